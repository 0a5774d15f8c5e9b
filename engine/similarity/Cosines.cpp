#include "Cosines.h"

#include <cmath>
#include <numbers>

namespace vp {
namespace {

template <std::size_t Rows, std::size_t Columns>
std::array<std::array<float, Columns>, Rows> makeTable() {
    std::array<std::array<float, Columns>, Rows> table{};
    for (std::size_t u = 0; u < Rows; ++u)
        for (std::size_t x = 0; x < Columns; ++x)
            table[u][x] = static_cast<float>(
                std::cos(std::numbers::pi * static_cast<double>(2 * x + 1) * static_cast<double>(u) /
                         static_cast<double>(2 * Columns)));
    return table;
}

} // namespace

// Function-local statics: made on first use, once, even when several threads ask at once.
const CosineTable32& cosines() {
    static const CosineTable32 table = makeTable<8, 32>();
    return table;
}

const CosineTable64& cosines64() {
    static const CosineTable64 table = makeTable<16, 64>();
    return table;
}

} // namespace vp
