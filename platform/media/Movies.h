// The movie services the media tools stand on: reading a movie's video-track facts, the HEVC
// copy (at most 1920x1080), an estimate of that copy's size, and a check that a movie decodes
// to its end. FFmpeg does the work; its headers stay inside this folder's .cpp files.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vp::Movies {

/// What the scanner needs to know of a movie, read from its headers without decoding frames.
struct Facts {
    double duration = 0;   ///< seconds
    int width = 0;         ///< pixels as shown, after the track's rotation
    int height = 0;
    double frameRate = 0;  ///< the video track's nominal rate
    std::string codec;     ///< four-character code of the video track, e.g. "avc1", "hvc1"
    std::optional<std::string> contentIdentifier; ///< the Live Photo pairing identifier
    int videoTracks = 0;
    int audioTracks = 0;

    bool operator==(const Facts&) const = default;
};

/// The metadata key that pairs a Live Photo's movie with its still.
inline constexpr const char* contentIdentifierKey = "com.apple.quicktime.content.identifier";

/// None when the file cannot be opened as a movie or has no video track.
std::optional<Facts> read(const std::string& path);

/// A 32-bit format code as four characters, most significant byte first.
std::string fourCC(std::uint32_t code);

/// The container of a copy: QuickTime for ".mov" originals, MPEG-4 for the rest.
enum class Container { quickTime, mpeg4 };
Container containerFor(const std::string& path);

/// The largest picture a copy has: its longer side at most 1920 and its shorter at most 1080,
/// never larger than the source, both sides even (the encoder's 4:2:0 needs them so).
struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};
Size fitted(Size source);

/// Asked often during long work; true stops it promptly.
using ShouldStop = std::function<bool()>;
/// The share of the movie done, 0 to 1.
using ExportProgress = std::function<void(double fraction)>;

/// Writes an HEVC copy of `source` to `destination` (which must not exist): video fitted as
/// above at the source's frame rate, tagged "hvc1"; audio as AAC; the source's metadata
/// (creation time, location, content identifier) and rotation carried over. None on success,
/// else a sentence; "Stopped." when `shouldStop` answered true. A partial file may be left at
/// `destination` on failure: the caller decides where it goes.
std::optional<std::string> exportHevc(const std::string& source, const std::string& destination, Container container,
                                      const ShouldStop& shouldStop = {}, const ExportProgress& progress = {});

/// The expected size in bytes of exportHevc's copy, from a trial encode of a few sampled
/// seconds scaled to the whole movie (short movies are encoded whole), plus the audio at its
/// encoder's rate and the container's overhead. None when the movie cannot be read or encoded.
std::optional<std::int64_t> estimateHevcSize(const std::string& source, Container container,
                                             const ShouldStop& shouldStop = {});

/// What a full decode of a movie found.
struct Playback {
    bool decoded = false;  ///< every packet of every video and audio track decoded without error
    double duration = 0;   ///< seconds
    int videoTracks = 0;
    int audioTracks = 0;
    std::int64_t videoFrames = 0;
};

/// Decodes every video and audio packet to the end. `decoded` false when it cannot be opened
/// or a packet does not decode.
Playback decodeFully(const std::string& path, const ShouldStop& shouldStop = {});

} // namespace vp::Movies
