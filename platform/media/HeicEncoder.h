// Writing photos as HEIC with libvips (heifsave, libheif with x265) at quality 80, the EXIF
// metadata (capture date, camera) carried over. HEIF readers ignore the EXIF orientation, so a
// turned photo is stored upright: its width and height are those the original is shown with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vp::HeicEncoder {

/// Whether this libvips can write HEIC with the HEVC codec.
bool isAvailable();

/// The size of the HEIC `path` would become, encoded in memory; none when it cannot be read or
/// encoded.
std::optional<std::int64_t> encodedSize(const std::string& path);

enum class WriteFailure { unavailable, unreadable, severalImages, notWritten };
/// Writes the HEIC copy of `path` to `to`; none on success.
std::optional<WriteFailure> write(const std::string& path, const std::string& to);

/// The quality every HEIC is written with (libvips's Q, 1 to 100).
inline constexpr int quality = 80;

} // namespace vp::HeicEncoder
