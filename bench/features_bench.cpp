// Measures the pictures of a list three ways in one run and reports pictures per second for each:
// the 512-pixel thumbnail alone, the full measurement (thumbnail, hashes, sharpness, quality
// score and the feature print, as the application measures), and the face check at 1600 pixels. features.sh makes the pictures
// and runs it.
//
//   features-bench [--threads N] [--runs N] [--no-faces] LISTFILE

#include "engine/similarity/FaceCheck.h"
#include "engine/similarity/FeatureExtractor.h"
#include "platform/image/Images.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

double processorSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

/// Wall-clock and processor seconds for one pass. Processor time counts every thread of the
/// process (libvips's and OpenCV's helpers too) and hardly changes when other programs load the
/// machine, so its ratio is the steadier measure of cost.
struct Seconds {
    double wall = 1e30;
    double processor = 1e30;
    void keepBest(const Seconds& other) {
        wall = std::min(wall, other.wall);
        processor = std::min(processor, other.processor);
    }
};

/// One pass of `work` over every path, `threads` workers taking the next path from a shared
/// cursor as the scan's worker pool does. Counts the paths `work` failed on into `failed`.
Seconds timed(const std::vector<std::string>& paths, int threads, const std::function<bool(const std::string&)>& work,
              int& failed) {
    std::atomic<std::size_t> cursor{0};
    std::atomic<int> failures{0};
    const double processorStart = processorSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (std::size_t i = cursor++; i < paths.size(); i = cursor++)
                if (!work(paths[i])) ++failures;
        });
    for (auto& worker : workers) worker.join();
    failed = failures.load();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            processorSeconds() - processorStart};
}

int usage() {
    std::fprintf(stderr, "usage: features-bench [--threads N] [--runs N] [--no-faces] LISTFILE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int threads = 1;
    int runs = 3;
    bool faces = true;
    std::string listFile;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--threads" && i + 1 < argc) threads = std::max(1, std::atoi(argv[++i]));
        else if (argument == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (argument == "--no-faces") faces = false;
        else if (listFile.empty()) listFile = argument;
        else return usage();
    }
    if (listFile.empty()) return usage();
    std::vector<std::string> paths;
    std::ifstream list(listFile);
    for (std::string line; std::getline(list, line);)
        if (!line.empty()) paths.push_back(line);
    if (paths.empty()) return usage();

    const auto thumbnail = [](const std::string& path) {
        return vp::Images::thumbnail(path, vp::FeatureExtractor::renditionSize).hasValue();
    };
    const auto measure = [](const std::string& path) {
        return vp::FeatureExtractor::features(path, vp::WithFeaturePrint::yes).has_value();
    };
    const auto faceCheck = [](const std::string& path) { return vp::FaceCheck::readingOfFile(path).has_value(); };

    // The quality model and the landmark model load once per process; that is start-up, not
    // per-picture cost, so one picture is measured before the clock starts.
    measure(paths.front());
    if (faces) faceCheck(paths.front());

    // The configurations take turns, so a busy machine slows them alike; the fastest run counts.
    Seconds bestThumbnail, bestMeasure, bestFaces;
    int failed = 0, anyFailed = 0;
    for (int run = 0; run < runs; ++run) {
        bestThumbnail.keepBest(timed(paths, threads, thumbnail, failed));
        anyFailed += failed;
        bestMeasure.keepBest(timed(paths, threads, measure, failed));
        anyFailed += failed;
        if (faces) {
            bestFaces.keepBest(timed(paths, threads, faceCheck, failed));
            anyFailed += failed;
        }
    }

    const double count = static_cast<double>(paths.size());
    const auto line = [count](const char* label, const Seconds& seconds) {
        std::printf("  %-29s %7.2f pictures/s  %7.1f ms processor time each\n", label, count / seconds.wall,
                    1000 * seconds.processor / count);
    };
    std::printf("%zu pictures, %d worker%s, best of %d runs\n", paths.size(), threads, threads == 1 ? "" : "s", runs);
    line("thumbnail alone (512 px)", bestThumbnail);
    line("measuring (with feature print)", bestMeasure);
    std::printf("  measuring costs %.2f x the thumbnail alone in wall-clock time, %.2f x in processor time\n",
                bestMeasure.wall / bestThumbnail.wall, bestMeasure.processor / bestThumbnail.processor);
    if (faces) line("face check (1600 px)", bestFaces);
    if (anyFailed) std::fprintf(stderr, "%d measurements failed\n", anyFailed);
    return anyFailed == 0 ? 0 : 1;
}
