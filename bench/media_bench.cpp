// The HEVC copy against its estimate, clip by clip: the estimate's error (median and worst),
// the time the estimate takes, the encode speed in frames per second and the bytes saved.
//   media-bench CLIP...
#include "platform/media/Movies.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

std::int64_t sizeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: media-bench CLIP...\n");
        return 2;
    }
    std::vector<double> errors;
    std::int64_t before = 0, after = 0;
    std::printf("%-28s %10s %10s %10s %8s %9s %9s %8s\n", "clip", "size", "estimate", "copy", "error", "estimate", "encode",
                "fps");
    for (int i = 1; i < argc; ++i) {
        const std::string clip = argv[i];
        const auto facts = vp::Movies::read(clip);
        if (!facts) {
            std::fprintf(stderr, "not a movie: %s\n", clip.c_str());
            continue;
        }
        const auto container = vp::Movies::containerFor(clip);
        const auto estimateStart = Clock::now();
        const auto estimate = vp::Movies::estimateHevcSize(clip, container);
        const double estimateSeconds = seconds(Clock::now() - estimateStart);
        const std::string copy = "/tmp/media-bench-" + std::to_string(::getpid()) + (container == vp::Movies::Container::quickTime ? ".mov" : ".mp4");
        const auto encodeStart = Clock::now();
        const auto failure = vp::Movies::exportHevc(clip, copy, container);
        const double encodeSeconds = seconds(Clock::now() - encodeStart);
        if (failure || !estimate) {
            std::fprintf(stderr, "%s: %s\n", clip.c_str(), failure ? failure->c_str() : "no estimate");
            ::unlink(copy.c_str());
            continue;
        }
        const std::int64_t copySize = sizeOf(copy);
        const auto playback = vp::Movies::decodeFully(copy);
        ::unlink(copy.c_str());
        const double error = static_cast<double>(*estimate - copySize) / static_cast<double>(copySize);
        errors.push_back(error);
        before += sizeOf(clip);
        after += copySize;
        const std::string name = clip.substr(clip.find_last_of('/') + 1);
        std::printf("%-28s %9.1fM %9.2fM %9.2fM %+7.1f%% %8.1fs %8.1fs %8.1f%s\n", name.c_str(), static_cast<double>(sizeOf(clip)) / 1e6,
                    static_cast<double>(*estimate) / 1e6, static_cast<double>(copySize) / 1e6, error * 100, estimateSeconds,
                    encodeSeconds, static_cast<double>(playback.videoFrames) / encodeSeconds,
                    playback.decoded ? "" : "  (copy does not decode!)");
    }
    if (errors.empty()) return 1;
    std::vector<double> magnitudes;
    for (const double error : errors) magnitudes.push_back(std::abs(error));
    std::sort(magnitudes.begin(), magnitudes.end());
    const std::size_t n = magnitudes.size();
    const double median = n % 2 ? magnitudes[n / 2] : (magnitudes[n / 2 - 1] + magnitudes[n / 2]) / 2;
    std::printf("\n%zu clips: estimate error median %.1f%%, worst %.1f%%; %.1f MB became %.1f MB (%.0f%% saved)\n", n,
                median * 100, magnitudes.back() * 100, static_cast<double>(before) / 1e6, static_cast<double>(after) / 1e6,
                100.0 * static_cast<double>(before - after) / static_cast<double>(before));
    return 0;
}
