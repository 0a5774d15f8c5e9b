#include "BandIndex.h"

#include "engine/scan/ParallelMap.h"

#include <algorithm>
#include <bit>
#include <mutex>
#include <numeric>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VP_X86_KERNELS 1
#endif

namespace vp::BandIndex {

namespace {

using Turns = std::array<std::uint64_t, 4>;

constexpr std::size_t bandCount = 8 * 256;

std::size_t bandOf(int position, std::uint64_t hash) {
    return static_cast<std::size_t>(position) * 256 + ((hash >> (8 * position)) & 0xff);
}

/// The lowest byte position at which `upright` holds the same byte as one of `turns`, or 8.
int firstSharedPosition(std::uint64_t upright, const Turns& turns) {
    constexpr std::uint64_t lowBytes = 0x0101010101010101ULL;
    constexpr std::uint64_t highBits = 0x8080808080808080ULL;
    int first = 8;
    for (const auto turn : turns) {
        const std::uint64_t x = upright ^ turn;
        // Flags the zero bytes of x. A borrow can flag a byte above the lowest zero byte wrongly,
        // never the lowest one, which is all that is read here.
        const std::uint64_t zeros = (x - lowBytes) & ~x & highBits;
        if (zeros != 0) first = std::min(first, std::countr_zero(zeros) / 8);
    }
    return first;
}

int leastDistance(std::uint64_t upright, const Turns& turns) {
    int least = 64;
    for (const auto turn : turns) least = std::min(least, std::popcount(upright ^ turn));
    return least;
}

/// Whether x proposes y (see forEachProposal).
bool proposes(const Member& x, const Member& y, int limit) {
    return leastDistance(x.turns[0], y.turns) <= limit && firstSharedPosition(y.turns[0], x.turns) < 8;
}

/// For each band, the positions of the members listed in it, ascending: by their upright hash
/// only, or by every turn (a member once per band however many turns put it there).
class Bands {
public:
    Bands(const std::vector<Member>& members, bool everyTurn) {
        const auto each = [&](auto&& visit) {
            for (std::size_t m = 0; m < members.size(); ++m)
                for (int position = 0; position < 8; ++position) {
                    std::array<std::size_t, 4> listed{};
                    std::size_t distinct = 0;
                    for (std::size_t k = 0; k < (everyTurn ? 4u : 1u); ++k) {
                        const std::size_t band = bandOf(position, members[m].turns[k]);
                        if (std::find(listed.begin(), listed.begin() + distinct, band) != listed.begin() + distinct) continue;
                        listed[distinct++] = band;
                        visit(band, m);
                    }
                }
        };
        std::vector<std::uint32_t> sizes(bandCount, 0);
        each([&](std::size_t band, std::size_t) { ++sizes[band]; });
        m_starts.assign(bandCount + 1, 0);
        std::partial_sum(sizes.begin(), sizes.end(), m_starts.begin() + 1);
        m_members.resize(m_starts.back());
        std::vector<std::uint32_t> next(m_starts.begin(), m_starts.end() - 1);
        each([&](std::size_t band, std::size_t m) { m_members[next[band]++] = static_cast<std::uint32_t>(m); });
    }

    std::span<const std::uint32_t> operator[](std::size_t band) const {
        return {m_members.data() + m_starts[band], m_members.data() + m_starts[band + 1]};
    }

private:
    std::vector<std::uint32_t> m_starts;
    std::vector<std::uint32_t> m_members;
};

/// A band's upright listing laid out as one column per turn, so that one picture is compared
/// with all of them in a tight loop over memory that stays in the cache.
struct Columns {
    std::array<std::vector<std::uint64_t>, 4> turns;
    std::span<const std::uint32_t> members;

    void fill(const std::vector<Member>& all, std::span<const std::uint32_t> listed) {
        members = listed;
        for (auto& column : turns) column.resize(listed.size());
        for (std::size_t row = 0; row < listed.size(); ++row)
            for (std::size_t k = 0; k < 4; ++k) turns[k][row] = all[listed[row]].turns[k];
    }
};

/// Appends (seen row << 32 | column row) for every upright hash in `seen` and every row of
/// `columns` whose least distance from it is within `limit`.
[[gnu::always_inline]] inline void nearRows(std::span<const std::uint64_t> seen, const Columns& columns, int limit,
                                            std::vector<std::uint64_t>& near) {
    const std::size_t rows = columns.members.size();
    const std::uint64_t* t0 = columns.turns[0].data();
    const std::uint64_t* t1 = columns.turns[1].data();
    const std::uint64_t* t2 = columns.turns[2].data();
    const std::uint64_t* t3 = columns.turns[3].data();
    for (std::size_t s = 0; s < seen.size(); ++s) {
        const std::uint64_t x = seen[s];
        for (std::size_t row = 0; row < rows; ++row) {
            const int least = std::min(std::min(std::popcount(x ^ t0[row]), std::popcount(x ^ t1[row])),
                                       std::min(std::popcount(x ^ t2[row]), std::popcount(x ^ t3[row])));
            if (least <= limit) near.push_back(static_cast<std::uint64_t>(s) << 32 | row);
        }
    }
}

void nearRowsPortable(std::span<const std::uint64_t> seen, const Columns& columns, int limit,
                      std::vector<std::uint64_t>& near) {
    nearRows(seen, columns, limit, near);
}

#ifdef VP_X86_KERNELS
// The same loop with the processor's population-count instruction, which a portable build
// cannot assume.
[[gnu::target("popcnt")]] void nearRowsWithPopcount(std::span<const std::uint64_t> seen, const Columns& columns,
                                                    int limit, std::vector<std::uint64_t>& near) {
    nearRows(seen, columns, limit, near);
}

// Eight rows at a time with 512-bit population counts; the last rows of a band are masked.
[[gnu::target("avx512f,avx512vpopcntdq")]] void nearRowsWide(std::span<const std::uint64_t> seen,
                                                             const Columns& columns, int limit,
                                                             std::vector<std::uint64_t>& near) {
    const std::size_t rows = columns.members.size();
    const __m512i bound = _mm512_set1_epi64(limit);
    for (std::size_t s = 0; s < seen.size(); ++s) {
        const __m512i x = _mm512_set1_epi64(static_cast<long long>(seen[s]));
        for (std::size_t row = 0; row < rows; row += 8) {
            const auto inside = static_cast<__mmask8>(rows - row >= 8 ? 0xff : (1u << (rows - row)) - 1);
            __m512i least = _mm512_set1_epi64(64);
            for (const auto& column : columns.turns) {
                const __m512i turn = _mm512_maskz_loadu_epi64(inside, column.data() + row);
                least = _mm512_mask_min_epu64(least, 0xff, least, _mm512_popcnt_epi64(_mm512_xor_si512(x, turn)));
            }
            for (unsigned hits = _mm512_mask_cmple_epu64_mask(inside, least, bound); hits != 0; hits &= hits - 1)
                near.push_back(static_cast<std::uint64_t>(s) << 32 | (row + static_cast<std::size_t>(std::countr_zero(hits))));
        }
    }
}
#endif

using NearRows = void (*)(std::span<const std::uint64_t>, const Columns&, int, std::vector<std::uint64_t>&);

NearRows nearRowsFor(Instructions instructions) {
    switch (instructions) {
#ifdef VP_X86_KERNELS
    case Instructions::wide: return nearRowsWide;
    case Instructions::popcount: return nearRowsWithPopcount;
#endif
    default: return nearRowsPortable;
    }
}

Proposal packed(std::uint32_t a, std::uint32_t b) {
    return a < b ? (static_cast<Proposal>(a) << 32 | b) : (static_cast<Proposal>(b) << 32 | a);
}

/// The proposals of every band in one array sorted by their numbers, with `room` to spare at
/// its end: placed by first picture in one counting pass, then each picture's few partners sorted.
std::vector<Proposal> sortedTogether(const std::vector<std::vector<Proposal>>& parts, std::size_t room) {
    std::size_t total = 0;
    std::uint32_t largestFirst = 0;
    for (const auto& part : parts) {
        total += part.size();
        for (const auto p : part) largestFirst = std::max(largestFirst, firstOf(p));
    }
    std::vector<std::size_t> starts(static_cast<std::size_t>(largestFirst) + 2, 0);
    for (const auto& part : parts)
        for (const auto p : part) ++starts[firstOf(p) + 1];
    std::partial_sum(starts.begin(), starts.end(), starts.begin());
    std::vector<Proposal> all;
    all.reserve(total + room);
    all.resize(total);
    std::vector<std::size_t> next(starts.begin(), starts.end() - 1);
    for (const auto& part : parts)
        for (const auto p : part) all[next[firstOf(p)]++] = p;
    for (std::size_t first = 0; first + 1 < starts.size(); ++first)
        std::sort(all.begin() + static_cast<std::ptrdiff_t>(starts[first]),
                  all.begin() + static_cast<std::ptrdiff_t>(starts[first + 1]));
    return all;
}

} // namespace

bool proposed(const Member& x, const Member& y, int limit) {
    return x.picture != y.picture && (proposes(x, y, limit) || proposes(y, x, limit));
}

std::vector<Instructions> supportedInstructions() {
    std::vector<Instructions> supported;
#ifdef VP_X86_KERNELS
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vpopcntdq")) supported.push_back(Instructions::wide);
    if (__builtin_cpu_supports("popcnt")) supported.push_back(Instructions::popcount);
#endif
    supported.push_back(Instructions::portable);
    return supported;
}

void forEachProposal(const std::vector<Member>& members, int limit, const CancellationFlag* cancel,
                     const std::function<void(std::span<const Proposal>)>& found, Instructions instructions) {
    const Bands upright(members, false), anyTurn(members, true);
    // The costliest bands first, so that no worker is left with a large one at the end.
    std::vector<std::size_t> order(bandCount);
    std::iota(order.begin(), order.end(), 0);
    const auto cost = [&](std::size_t band) { return upright[band].size() * anyTurn[band].size(); };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return cost(a) > cost(b); });
    const NearRows near = nearRowsFor(instructions);

    ExactMatcher::concurrentPerform(bandCount, cancel, [&](std::size_t n) {
        const std::size_t band = order[n];
        const int position = static_cast<int>(band / 256);
        const auto proposers = anyTurn[band];
        if (upright[band].empty() || proposers.empty()) return;
        thread_local Columns columns;
        thread_local std::vector<std::uint64_t> seen, hits;
        thread_local std::vector<Proposal> proposals;
        columns.fill(members, upright[band]);
        seen.resize(proposers.size());
        for (std::size_t s = 0; s < proposers.size(); ++s) seen[s] = members[proposers[s]].turns[0];
        hits.clear();
        near(seen, columns, limit, hits);

        proposals.clear();
        for (const auto hit : hits) {
            const Member& x = members[proposers[hit >> 32]];
            const Member& y = members[columns.members[static_cast<std::uint32_t>(hit)]];
            if (x.picture == y.picture) continue;
            // x proposes y here; the pair belongs to this band only if this is the first position
            // they share, and to x only if y does not propose x too from a smaller index.
            if (firstSharedPosition(y.turns[0], x.turns) != position) continue;
            if (y.picture < x.picture && proposes(y, x, limit)) continue;
            proposals.push_back(packed(x.picture, y.picture));
        }
        if (!proposals.empty()) found(proposals);
    });
}

std::vector<Proposal> proposals(const std::vector<Member>& members, int limit, const CancellationFlag* cancel,
                                std::size_t room, Instructions instructions) {
    std::mutex mutex;
    std::vector<std::vector<Proposal>> parts;
    forEachProposal(
        members, limit, cancel,
        [&](std::span<const Proposal> found) {
            std::vector<Proposal> part(found.begin(), found.end());
            std::lock_guard lock(mutex);
            parts.push_back(std::move(part));
        },
        instructions);
    return sortedTogether(parts, room);
}

} // namespace vp::BandIndex
