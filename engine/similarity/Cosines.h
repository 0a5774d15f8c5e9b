// The cosine tables of the two perceptual hashes' low-frequency DCTs, built once and shared
// read-only. Entry [u][x] = cos(π·(2x+1)·u / (2N)) for an N-point transform, computed in double
// precision and narrowed; no normalisation factor, so row 0 is all ones.
#pragma once

#include <array>

namespace vp {

/// 8 frequencies of a 32-point transform.
using CosineTable32 = std::array<std::array<float, 32>, 8>;
/// 16 frequencies of a 64-point transform.
using CosineTable64 = std::array<std::array<float, 64>, 16>;

const CosineTable32& cosines();
const CosineTable64& cosines64();

} // namespace vp
