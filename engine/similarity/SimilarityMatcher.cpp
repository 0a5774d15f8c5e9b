#include "SimilarityMatcher.h"

#include "FaceCheck.h"

#include "engine/scan/ParallelMap.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <map>

namespace vp::SimilarityMatcher {

namespace {

constexpr std::uint64_t lowBytes = 0x0101010101010101ULL;
constexpr std::uint64_t highBits = 0x8080808080808080ULL;

/// True when a and b hold the same byte in at least one of the eight positions.
bool shareAByte(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t x = a ^ b;
    return ((x - lowBytes) & ~x & highBits) != 0;
}

unsigned byteAt(std::uint64_t hash, int position) { return static_cast<unsigned>((hash >> (8 * position)) & 0xff); }

/// Every measured picture's four hashes, upright first; missing turns repeat the upright hash
/// so that they change nothing.
struct Hashes {
    std::vector<std::array<std::uint64_t, 4>> turns;
    std::vector<bool> measured;

    explicit Hashes(const std::vector<std::optional<ImageFeatures>>& features)
        : turns(features.size()), measured(features.size(), false) {
        for (std::size_t i = 0; i < features.size(); ++i) {
            if (!features[i] || features[i]->hashes.empty()) continue;
            measured[i] = true;
            const auto& hashes = features[i]->hashes;
            for (std::size_t k = 0; k < 4; ++k) turns[i][k] = hashes[k < hashes.size() ? k : 0];
        }
    }

    /// The least distance between x's upright hash and any turn of y.
    int distance(std::size_t x, std::size_t y) const {
        int least = 64;
        for (const auto turn : turns[y]) least = std::min(least, std::popcount(turns[x][0] ^ turn));
        return least;
    }
    /// Whether y's upright hash shares a byte position with any turn of x.
    bool uprightSharesWithTurns(std::size_t y, std::size_t x) const {
        return std::any_of(turns[x].begin(), turns[x].end(), [&](std::uint64_t turn) { return shareAByte(turns[y][0], turn); });
    }
};

/// For each of the eight byte positions and each byte value, the pictures listed there, ascending.
class BandTable {
public:
    BandTable(const Hashes& hashes, bool everyTurn) {
        const std::size_t count = hashes.turns.size();
        std::vector<std::uint32_t> sizes(8 * 256, 0);
        const auto each = [&](auto&& visit) {
            for (std::size_t j = 0; j < count; ++j) {
                if (!hashes.measured[j]) continue;
                for (int position = 0; position < 8; ++position) {
                    std::array<unsigned, 4> seen{};
                    int distinct = 0;
                    for (int k = 0; k < (everyTurn ? 4 : 1); ++k) {
                        const unsigned value = byteAt(hashes.turns[j][static_cast<std::size_t>(k)], position);
                        if (std::find(seen.begin(), seen.begin() + distinct, value) != seen.begin() + distinct) continue;
                        seen[static_cast<std::size_t>(distinct++)] = value;
                        visit(static_cast<std::size_t>(position) * 256 + value, j);
                    }
                }
            }
        };
        each([&](std::size_t slot, std::size_t) { ++sizes[slot]; });
        m_starts.assign(8 * 256 + 1, 0);
        for (std::size_t slot = 0; slot < sizes.size(); ++slot) m_starts[slot + 1] = m_starts[slot] + sizes[slot];
        m_members.resize(m_starts.back());
        std::vector<std::uint32_t> next(m_starts.begin(), m_starts.end() - 1);
        each([&](std::size_t slot, std::size_t j) { m_members[next[slot]++] = static_cast<std::uint32_t>(j); });
    }

    /// The pictures above `after` listed under `value` at `position`.
    std::pair<const std::uint32_t*, const std::uint32_t*> after(int position, unsigned value, std::size_t after) const {
        const std::size_t slot = static_cast<std::size_t>(position) * 256 + value;
        const std::uint32_t* begin = m_members.data() + m_starts[slot];
        const std::uint32_t* end = m_members.data() + m_starts[slot + 1];
        return {std::upper_bound(begin, end, static_cast<std::uint32_t>(after)), end};
    }

private:
    std::vector<std::uint32_t> m_starts;
    std::vector<std::uint32_t> m_members;
};

std::vector<CandidatePair> bandProposals(const Hashes& hashes) {
    const std::size_t count = hashes.turns.size();
    const BandTable upright(hashes, false), anyTurn(hashes, true);
    static std::atomic<std::uint64_t> calls{0};
    const std::uint64_t call = ++calls;

    constexpr std::size_t chunk = 512;
    const std::size_t chunks = (count + chunk - 1) / chunk;
    std::vector<std::vector<CandidatePair>> found(chunks);
    ExactMatcher::concurrentPerform(chunks, nullptr, [&](std::size_t c) {
        // Marks which pictures were already looked at for the current i, without clearing.
        thread_local std::vector<std::uint64_t> seen;
        if (seen.size() < count) seen.assign(count, 0);
        std::vector<std::uint32_t> partners;
        for (std::size_t i = c * chunk; i < std::min(count, (c + 1) * chunk); ++i) {
            if (!hashes.measured[i]) continue;
            const std::uint64_t stamp = (call << 32) | (i + 1);
            partners.clear();
            const auto visit = [&](std::pair<const std::uint32_t*, const std::uint32_t*> range) {
                for (auto it = range.first; it != range.second; ++it) {
                    const std::size_t j = *it;
                    if (seen[j] == stamp) continue;
                    seen[j] = stamp;
                    // From i's side: j's upright hash shares a byte with a turn of i, and i as seen is
                    // close to some turn of j. From j's side the same with the two exchanged.
                    const bool fromI = hashes.distance(i, j) <= SimilarityThresholds::candidateHamming &&
                                       hashes.uprightSharesWithTurns(j, i);
                    const bool fromJ = !fromI && hashes.distance(j, i) <= SimilarityThresholds::candidateHamming &&
                                       hashes.uprightSharesWithTurns(i, j);
                    if (fromI || fromJ) partners.push_back(static_cast<std::uint32_t>(j));
                }
            };
            for (int position = 0; position < 8; ++position) {
                for (const auto turn : hashes.turns[i]) visit(upright.after(position, byteAt(turn, position), i));
                visit(anyTurn.after(position, byteAt(hashes.turns[i][0], position), i));
            }
            std::sort(partners.begin(), partners.end());
            for (const auto j : partners)
                found[c].push_back({static_cast<std::int64_t>(i), static_cast<std::int64_t>(j), false});
        }
    });
    std::vector<CandidatePair> proposals;
    for (auto& part : found) proposals.insert(proposals.end(), part.begin(), part.end());
    return proposals;
}

std::vector<std::pair<std::int64_t, std::int64_t>> timeNeighbourPairs(
    const std::vector<std::optional<ImageFeatures>>& features, const std::vector<PhotoAsset>& pictures) {
    std::map<std::string, std::vector<std::int64_t>> byFolder;
    for (std::size_t i = 0; i < features.size(); ++i)
        if (features[i] && features[i]->captureDate) byFolder[pictures[i].folder()].push_back(static_cast<std::int64_t>(i));
    const auto dateOf = [&](std::int64_t i) { return *features[static_cast<std::size_t>(i)]->captureDate; };
    std::vector<std::pair<std::int64_t, std::int64_t>> pairs;
    const auto window = std::chrono::duration_cast<Timestamp::duration>(std::chrono::duration<double>(timeNeighbourSeconds));
    for (auto& [folder, shots] : byFolder) {
        std::sort(shots.begin(), shots.end(), [&](std::int64_t x, std::int64_t y) {
            return dateOf(x) != dateOf(y) ? dateOf(x) < dateOf(y) : x < y;
        });
        for (std::size_t p = 0; p < shots.size(); ++p)
            for (std::size_t q = p + 1; q < shots.size() && dateOf(shots[q]) - dateOf(shots[p]) <= window; ++q)
                pairs.emplace_back(std::min(shots[p], shots[q]), std::max(shots[p], shots[q]));
    }
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    return pairs;
}

} // namespace

std::vector<CandidatePair> candidatePairs(const std::vector<std::optional<ImageFeatures>>& features,
                                          const std::vector<PhotoAsset>& pictures, bool timeNeighbours) {
    std::vector<CandidatePair> proposals = bandProposals(Hashes(features));
    if (!timeNeighbours) return proposals;
    const auto neighbours = timeNeighbourPairs(features, pictures);
    // Both lists are sorted: merge them, flagging band proposals that are also time neighbours.
    std::vector<CandidatePair> merged;
    merged.reserve(proposals.size() + neighbours.size());
    std::size_t n = 0;
    for (const auto& proposal : proposals) {
        while (n < neighbours.size() && neighbours[n] < std::pair{proposal.first, proposal.second}) {
            merged.push_back({neighbours[n].first, neighbours[n].second, true});
            ++n;
        }
        const bool alsoNeighbour = n < neighbours.size() && neighbours[n] == std::pair{proposal.first, proposal.second};
        if (alsoNeighbour) ++n;
        merged.push_back({proposal.first, proposal.second, alsoNeighbour});
    }
    for (; n < neighbours.size(); ++n) merged.push_back({neighbours[n].first, neighbours[n].second, true});
    return merged;
}

std::optional<SimilarPair> evaluate(const CandidatePair& candidate, const ImageFeatures& a, const ImageFeatures& b,
                                    const std::optional<FeaturePrintObservation>& printA,
                                    const std::optional<FeaturePrintObservation>& printB) {
    const auto match = FeatureExtractor::hashMatch(a, b);
    const double limit = candidate.isTimeNeighbour ? SimilarityThresholds::seriesRelated
                                                   : static_cast<double>(SimilarityThresholds::candidateHamming);
    if (match.distance > limit) return std::nullopt;
    SimilarPair pair;
    pair.a = candidate.first;
    pair.b = candidate.second;
    pair.distance = static_cast<float>(match.distance);
    pair.detail = FeatureExtractor::detailDistance(a, b);
    pair.shapesAgree = FeatureExtractor::shapesAgree(a, b, match.turn);
    if (printA && printB) pair.vision = FeatureExtractor::featureDistance(*printA, *printB);
    return pair;
}

std::optional<SimilarityIndex> index(const std::vector<PhotoAsset>& pictures, FeatureCache* cache,
                                     WithFeaturePrint withFeaturePrint, const FeatureReader& read,
                                     const CancellationFlag& cancel, const Progress& progress) {
    const auto total = static_cast<std::int64_t>(pictures.size());
    ProgressCounter counter;
    const auto measured = ExactMatcher::parallelMap(pictures, &cancel, [&](const PhotoAsset& picture) {
        std::optional<ImageFeatures> features;
        if (cache) features = cache->lookup(picture);
        if (features && withFeaturePrint == WithFeaturePrint::yes && !features->featurePrint) features.reset();
        if (!features) {
            features = read ? read(picture) : FeatureExtractor::features(picture.path, withFeaturePrint);
            if (features && cache) cache->store(picture, *features);
        }
        const auto done = counter.increment();
        if (progress) progress(done, total);
        return features;
    });
    if (cancel.isCancelled()) return std::nullopt;
    if (cache) cache->save();

    SimilarityIndex result;
    result.pictures = pictures;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        result.features.push_back(measured[i] ? *measured[i] : std::nullopt);
        if (!result.features.back()) result.unmeasured.push_back(pictures[i].path);
    }

    std::vector<std::optional<FeaturePrintObservation>> prints(pictures.size());
    if (withFeaturePrint == WithFeaturePrint::yes)
        for (std::size_t i = 0; i < pictures.size(); ++i)
            if (result.features[i] && result.features[i]->featurePrint)
                prints[i] = FeatureExtractor::observation(*result.features[i]->featurePrint);

    const auto candidates = candidatePairs(result.features, pictures, true);
    result.candidatesProposed = static_cast<std::int64_t>(candidates.size());
    // Evaluated in chunks: there can be millions of candidates, each only a few popcounts.
    constexpr std::size_t chunk = 4096;
    std::vector<std::vector<SimilarPair>> kept((candidates.size() + chunk - 1) / chunk);
    ExactMatcher::concurrentPerform(kept.size(), &cancel, [&](std::size_t c) {
        for (std::size_t k = c * chunk; k < std::min(candidates.size(), (c + 1) * chunk); ++k) {
            const auto& candidate = candidates[k];
            const auto first = static_cast<std::size_t>(candidate.first), second = static_cast<std::size_t>(candidate.second);
            if (!result.features[first] || !result.features[second]) continue;
            if (auto pair = evaluate(candidate, *result.features[first], *result.features[second], prints[first], prints[second]))
                kept[c].push_back(*pair);
        }
    });
    if (cancel.isCancelled()) return std::nullopt;
    for (const auto& part : kept) result.pairs.insert(result.pairs.end(), part.begin(), part.end());
    return result;
}

std::optional<SimilarityIndex> checkFaces(const SimilarityIndex& index, FeatureCache* cache, const FaceReader& read,
                                          const CancellationFlag& cancel, const Progress& progress) {
    std::vector<std::int64_t> chosen;
    for (const auto i : index.paired()) {
        const auto& features = index.features[static_cast<std::size_t>(i)];
        if (features && !(features->faces && features->faces->revision == FaceCheck::revision)) chosen.push_back(i);
    }
    const auto total = static_cast<std::int64_t>(chosen.size());
    ProgressCounter counter;
    const auto readings = ExactMatcher::parallelMap(chosen, &cancel, [&](std::int64_t i) {
        const PhotoAsset& picture = index.pictures[static_cast<std::size_t>(i)];
        std::optional<FaceReading> reading = cache ? cache->faces(picture) : std::nullopt;
        if (!reading) {
            reading = read ? read(picture) : FaceCheck::readingOfFile(picture.path);
            if (reading && cache) cache->storeFaces(*reading, picture);
        }
        const auto done = counter.increment();
        if (progress) progress(done, total);
        return reading;
    });
    if (cancel.isCancelled()) return std::nullopt;
    if (cache) cache->save();
    std::map<std::int64_t, FaceReading> obtained;
    for (std::size_t k = 0; k < chosen.size(); ++k)
        if (readings[k] && *readings[k]) obtained.emplace(chosen[k], **readings[k]);
    return index.withFaces(obtained);
}

} // namespace vp::SimilarityMatcher
