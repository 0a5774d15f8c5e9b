// What the pair comparisons read of a measured picture, kept in one block of memory. The matcher
// compares millions of pairs in an index of many pictures; reading the hashes from the record's
// separate allocations would cost several cache misses per pair.
#pragma once

#include "ImageFeatures.h"

#include <array>
#include <cstdint>
#include <optional>

namespace vp {

/// At most N values kept inline, read like the vector it copies.
template <class T, std::size_t N>
class InlineList {
public:
    /// False, leaving the list as it was, when `values` holds more than N.
    template <class Values, class Convert>
    bool assign(const Values& values, Convert&& convert) {
        if (values.size() > N) return false;
        for (std::size_t i = 0; i < values.size(); ++i)
            if (!convert(values[i], m_values[i])) return false;
        m_size = static_cast<std::uint8_t>(values.size());
        return true;
    }

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const T& operator[](std::size_t i) const { return m_values[i]; }
    const T* begin() const { return m_values.data(); }
    const T* end() const { return m_values.data() + m_size; }

private:
    std::array<T, N> m_values{};
    std::uint8_t m_size = 0;
};

struct HashSketch {
    InlineList<std::uint64_t, 4> hashes;
    std::int64_t pixelWidth = 0;
    std::int64_t pixelHeight = 0;
    InlineList<InlineList<std::uint64_t, 4>, 4> detailHashes;

    /// The sketch of a record, absent when its hashes do not fit (a record this system measured
    /// always fits).
    static std::optional<HashSketch> of(const ImageFeatures& features) {
        HashSketch sketch;
        sketch.pixelWidth = features.pixelWidth;
        sketch.pixelHeight = features.pixelHeight;
        const auto copy = [](std::uint64_t from, std::uint64_t& to) { return to = from, true; };
        const auto words = [&](const std::vector<std::uint64_t>& from, InlineList<std::uint64_t, 4>& to) {
            return to.assign(from, copy);
        };
        if (!sketch.hashes.assign(features.hashes, copy) || !sketch.detailHashes.assign(features.detailHashes, words))
            return std::nullopt;
        return sketch;
    }
};

} // namespace vp
