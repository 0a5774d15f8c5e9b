#include "Clips.h"

#include "TempDir.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vp::testing {

namespace {

void putBigEndian(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
}

/// This FFmpeg's command line cannot set a display rotation, so the first track header (the
/// video's) gets the matrix a phone writes: a quarter turn clockwise, moved back into view.
void rotateQuarterTurn(const std::string& path, int height) {
    std::string bytes = readFile(path);
    const auto box = bytes.find("tkhd");
    if (box == std::string::npos || bytes[box + 4] != 0) std::abort(); // version 0 headers only
    const std::size_t matrix = box + 4 + 4 + 4 * 5 + 8 + 8;
    const std::uint32_t values[9] = {0, 0x10000, 0, 0xFFFF0000u, 0, 0, static_cast<std::uint32_t>(height) << 16, 0,
                                     0x40000000};
    for (std::size_t i = 0; i < 9; ++i) putBigEndian(bytes, matrix + 4 * i, values[i]);
    writeFile(path, bytes);
}

} // namespace

std::string makeClip(const std::string& path, const ClipSpec& spec) {
    const std::string seconds = std::to_string(spec.seconds);
    std::vector<std::string> arguments{"ffmpeg", "-nostdin", "-v", "error", "-y"};
    if (spec.video != "none") {
        arguments.insert(arguments.end(), {"-f", "lavfi", "-i",
                                           "testsrc2=size=" + std::to_string(spec.width) + "x" + std::to_string(spec.height) +
                                               ":rate=" + std::to_string(spec.frameRate) + ":duration=" + seconds});
    }
    if (spec.sound) arguments.insert(arguments.end(), {"-f", "lavfi", "-i", "sine=frequency=440:duration=" + seconds});
    if (spec.video == "h264")
        arguments.insert(arguments.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-crf", std::to_string(spec.quality),
                                           "-pix_fmt", "yuv420p"});
    else if (spec.video == "hevc")
        arguments.insert(arguments.end(), {"-c:v", "libx265", "-preset", "ultrafast", "-tag:v", "hvc1", "-pix_fmt",
                                           "yuv420p", "-x265-params", "log-level=none"});
    else if (spec.video == "prores")
        arguments.insert(arguments.end(), {"-c:v", "prores_ks", "-profile:v", "0"});
    if (spec.sound) arguments.insert(arguments.end(), {"-c:a", "aac", "-b:a", "96k"});
    if (spec.contentIdentifier)
        arguments.insert(arguments.end(), {"-metadata", "com.apple.quicktime.content.identifier=" + *spec.contentIdentifier,
                                           "-movflags", "use_metadata_tags"});
    if (spec.creationTime) arguments.insert(arguments.end(), {"-metadata", "creation_time=" + *spec.creationTime});
    if (spec.location) arguments.insert(arguments.end(), {"-metadata", "location=" + *spec.location});
    arguments.insert(arguments.end(), {"-shortest", path});

    const pid_t child = ::fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execvp("ffmpeg", argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "ffmpeg could not make %s\n", path.c_str());
        std::abort();
    }
    if (spec.rotation == 90) rotateQuarterTurn(path, spec.height);
    return path;
}

} // namespace vp::testing
