// The byte-band index: proposes pairs of pictures whose perceptual hashes lie within a distance,
// without comparing every pair. A picture looks only at the pictures whose upright hash holds one
// of its own hash bytes (in some orientation) in the same byte position.
//
// The work is done band by band: a band is one byte position and one value, with the pictures
// whose upright hash holds that value there and the pictures holding it in some orientation. The
// two lists are compared against each other from columns of hashes that stay in the processor's
// cache, and each pair is reported from exactly one band, so nothing needs deduplicating.
#pragma once

#include "engine/scan/CancellationFlag.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace vp::BandIndex {

/// A measured picture: its index among the pictures and its four hashes, upright first.
struct Member {
    std::uint32_t picture = 0;
    std::array<std::uint64_t, 4> turns{};
};

/// A proposed pair of picture indices packed as first << 32 | second with first < second, so
/// that proposals sort as their numbers do.
using Proposal = std::uint64_t;

inline constexpr std::uint32_t firstOf(Proposal p) { return static_cast<std::uint32_t>(p >> 32); }
inline constexpr std::uint32_t secondOf(Proposal p) { return static_cast<std::uint32_t>(p); }

/// The comparison loops this build has, fastest first: 512-bit population counts, the scalar
/// population-count instruction, and portable code. All find the same pairs.
enum class Instructions { wide, popcount, portable };

/// The loops this processor can run, fastest first; the first is the one used by default.
std::vector<Instructions> supportedInstructions();

/// A pair is proposed when either picture proposes the other, and x proposes y when y's upright
/// hash holds, in the same position, a byte of some turn of x, and x's upright hash lies within
/// `limit` bits of some turn of y.
///
/// Hands every proposed pair to `found` exactly once, a band's worth at a time, from up to four
/// worker threads. Stops handing out bands once `cancel` is set.
void forEachProposal(const std::vector<Member>& members, int limit, const CancellationFlag* cancel,
                     const std::function<void(std::span<const Proposal>)>& found,
                     Instructions instructions = supportedInstructions().front());

/// Whether the pass proposes the pair {x, y}: in O(1), so that other proposal sources can tell
/// the pairs it already proposed without holding them.
bool proposed(const Member& x, const Member& y, int limit);

/// Every proposed pair, sorted, in an array with capacity for `room` more.
std::vector<Proposal> proposals(const std::vector<Member>& members, int limit, const CancellationFlag* cancel,
                                std::size_t room = 0, Instructions instructions = supportedInstructions().front());

} // namespace vp::BandIndex
