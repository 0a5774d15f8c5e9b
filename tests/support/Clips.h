// Short movies made by the tests with FFmpeg's own test sources (a moving test pattern and a
// sine tone), so every case runs on real files of the kind cameras and phones write.
#pragma once

#include <optional>
#include <string>

namespace vp::testing {

struct ClipSpec {
    int width = 320;
    int height = 240;
    double seconds = 2.0;
    int frameRate = 25;
    /// "h264", "hevc", "prores" or "none" (sound only).
    std::string video = "h264";
    bool sound = true;
    /// Degrees of the display rotation written in the track: 0 or 90.
    int rotation = 0;
    std::optional<std::string> contentIdentifier{};
    std::optional<std::string> creationTime{}; ///< "2021-05-01T10:00:00Z"
    std::optional<std::string> location{};   ///< ISO 6709, "+48.8584+002.2945/"
    /// x264's constant rate factor: lower makes a bigger file, so there is something to save.
    int quality = 18;
};

/// Writes the clip to `path` (its extension picks the container) and returns the path.
/// Aborts the test run when FFmpeg fails: nothing else could be checked without the clip.
std::string makeClip(const std::string& path, const ClipSpec& spec = {});

} // namespace vp::testing
