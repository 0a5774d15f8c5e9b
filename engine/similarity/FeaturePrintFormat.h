// The stored feature print: a header ("VPF", the revision, the rendition's width and height, the
// corner count, each 16-bit little-endian), then per corner its position in 1/64 pixel (two
// 16-bit values) and its 256-bit descriptor, then the little grey picture: its width and height
// (16-bit) and its pixels, row by row. Shared by the writer and the reader, which needs
// no image library, so the cache's reader can be built and fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vp::FeatureExtractor::PrintFormat {

constexpr std::size_t headerSize = 10;
constexpr std::size_t cornerSize = 4 + 32;
constexpr float positionScale = 64.0f;

inline void putWord(std::vector<std::uint8_t>& bytes, unsigned value) {
    bytes.push_back(static_cast<std::uint8_t>(value & 0xff));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline unsigned wordAt(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<unsigned>(bytes[at]) | static_cast<unsigned>(bytes[at + 1]) << 8;
}

} // namespace vp::FeatureExtractor::PrintFormat
