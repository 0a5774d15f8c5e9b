#include "SimilarityMatcher.h"

#include "BandIndex.h"
#include "FaceCheck.h"
#include "FeatureNeighbours.h"
#include "PairsByFeaturePrint.h"

#include "engine/scan/ParallelMap.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace vp::SimilarityMatcher {

namespace {

/// The measured pictures with their four hashes, upright first; missing turns repeat the upright
/// hash so that they change nothing.
std::vector<BandIndex::Member> bandMembers(const std::vector<std::optional<ImageFeatures>>& features) {
    std::vector<BandIndex::Member> members;
    for (std::size_t i = 0; i < features.size(); ++i) {
        if (!features[i] || features[i]->hashes.empty()) continue;
        const auto& hashes = features[i]->hashes;
        BandIndex::Member member{static_cast<std::uint32_t>(i), {}};
        for (std::size_t k = 0; k < 4; ++k) member.turns[k] = hashes[k < hashes.size() ? k : 0];
        members.push_back(member);
    }
    return members;
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

/// A candidate packed as first << 33 | second << 1 | time-neighbour flag, so that the numbers
/// sort as the pairs do; an index may hold tens of millions of them.
using PackedCandidate = std::uint64_t;

PackedCandidate pack(std::uint64_t first, std::uint64_t second, bool timeNeighbour) {
    return first << 33 | second << 1 | (timeNeighbour ? 1u : 0u);
}

CandidatePair unpack(PackedCandidate c) {
    return {static_cast<std::int64_t>(c >> 33), static_cast<std::int64_t>((c >> 1) & 0xffffffffu), (c & 1) != 0};
}

std::vector<PackedCandidate> proposeCandidates(const std::vector<std::optional<ImageFeatures>>& features,
                                               const std::vector<PhotoAsset>& pictures, bool timeNeighbours,
                                               const CancellationFlag* cancel) {
    const auto neighbours =
        timeNeighbours ? timeNeighbourPairs(features, pictures) : std::vector<std::pair<std::int64_t, std::int64_t>>{};
    auto candidates =
        BandIndex::proposals(bandMembers(features), SimilarityThresholds::candidateHamming, cancel, neighbours.size());
    for (auto& c : candidates) c = pack(BandIndex::firstOf(c), BandIndex::secondOf(c), false);
    // Both lists are sorted: merge the neighbours in from the back, in place, flagging the band
    // proposals that are also time neighbours.
    const auto packedNeighbour = [&](std::size_t n) {
        return pack(static_cast<std::uint64_t>(neighbours[n].first), static_cast<std::uint64_t>(neighbours[n].second), true);
    };
    std::size_t added = 0;
    for (std::size_t n = 0; n < neighbours.size(); ++n)
        if (!std::binary_search(candidates.begin(), candidates.end(), packedNeighbour(n) - 1)) ++added;
    std::size_t read = candidates.size(), write = read + added, n = neighbours.size();
    candidates.resize(write);
    while (n > 0) {
        const PackedCandidate neighbour = packedNeighbour(n - 1);
        if (read > 0 && candidates[read - 1] > neighbour) {
            candidates[--write] = candidates[--read];
        } else if (read > 0 && candidates[read - 1] == neighbour - 1) {
            candidates[--write] = neighbour;
            --read, --n;
        } else {
            candidates[--write] = neighbour;
            --n;
        }
    }
    return candidates;
}

} // namespace

std::vector<CandidatePair> candidatePairs(const std::vector<std::optional<ImageFeatures>>& features,
                                          const std::vector<PhotoAsset>& pictures, bool timeNeighbours) {
    const auto packed = proposeCandidates(features, pictures, timeNeighbours, nullptr);
    std::vector<CandidatePair> candidates(packed.size());
    std::transform(packed.begin(), packed.end(), candidates.begin(), unpack);
    return candidates;
}

namespace {

template <class Record>
std::optional<SimilarPair> evaluateRecords(const CandidatePair& candidate, const Record& a, const Record& b,
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

} // namespace

std::optional<SimilarPair> evaluate(const CandidatePair& candidate, const ImageFeatures& a, const ImageFeatures& b,
                                    const std::optional<FeaturePrintObservation>& printA,
                                    const std::optional<FeaturePrintObservation>& printB) {
    return evaluateRecords(candidate, a, b, printA, printB);
}

std::optional<SimilarityIndex> index(const std::vector<PhotoAsset>& pictures, FeatureCache* cache,
                                     WithFeaturePrint withFeaturePrint, const FeatureReader& read,
                                     const CancellationFlag& cancel, const Progress& progress) {
    const auto total = static_cast<std::int64_t>(pictures.size());
    ProgressCounter counter;
    auto measured = ExactMatcher::parallelMap(pictures, &cancel, [&](const PhotoAsset& picture) {
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

    std::vector<std::optional<ImageFeatures>> features(pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i)
        if (measured[i]) features[i] = std::move(*measured[i]);
    return compare(pictures, std::move(features), withFeaturePrint, cancel);
}

std::optional<SimilarityIndex> compare(std::vector<PhotoAsset> pictures, std::vector<std::optional<ImageFeatures>> features,
                                       [[maybe_unused]] WithFeaturePrint withFeaturePrint, const CancellationFlag& cancel) {
    SimilarityIndex result;
    result.pictures = std::move(pictures);
    result.features = std::move(features);
    result.features.resize(result.pictures.size());
    for (std::size_t i = 0; i < result.pictures.size(); ++i)
        if (!result.features[i]) result.unmeasured.push_back(result.pictures[i].path);

    // The prints are compared after the hashes, and only on the pairs worth it (below).
    const std::optional<FeaturePrintObservation> noPrint;

    const auto candidates = proposeCandidates(result.features, result.pictures, true, &cancel);
    if (cancel.isCancelled()) return std::nullopt;
    result.candidatesProposed = static_cast<std::int64_t>(candidates.size());
    // Evaluated in chunks: there can be millions of candidates, each only a few popcounts, read
    // from sketches in one array rather than from the records' scattered allocations. Each chunk's
    // pairs are added in candidate order as soon as the chunks before it are in; the reserved
    // space is only touched as it is written.
    std::vector<std::optional<HashSketch>> sketches(result.features.size());
    for (std::size_t i = 0; i < sketches.size(); ++i)
        if (result.features[i]) sketches[i] = HashSketch::of(*result.features[i]);
    result.pairs.reserve(candidates.size());
    constexpr std::size_t chunk = 4096;
    std::mutex mutex;
    std::condition_variable added;
    std::size_t nextToAdd = 0;
    // Every chunk is taken, cancelled or not, so that no chunk waits for one never handed out.
    ExactMatcher::concurrentPerform((candidates.size() + chunk - 1) / chunk, nullptr, [&](std::size_t c) {
        thread_local std::vector<SimilarPair> kept;
        kept.clear();
        const std::size_t end = std::min(candidates.size(), (c + 1) * chunk);
        for (std::size_t k = c * chunk; k < end && !cancel.isCancelled(); ++k) {
            const auto candidate = unpack(candidates[k]);
            const auto first = static_cast<std::size_t>(candidate.first), second = static_cast<std::size_t>(candidate.second);
            // The second pictures are scattered across the index: ask for one a few pairs ahead.
            if (k + 8 < end) __builtin_prefetch(&sketches[static_cast<std::size_t>(unpack(candidates[k + 8]).second)]);
            std::optional<SimilarPair> pair;
            if (sketches[first] && sketches[second])
                pair = evaluateRecords(candidate, *sketches[first], *sketches[second], noPrint, noPrint);
            else if (result.features[first] && result.features[second])
                pair = evaluate(candidate, *result.features[first], *result.features[second], noPrint, noPrint);
            if (pair) kept.push_back(*pair);
        }
        std::unique_lock lock(mutex);
        added.wait(lock, [&] { return nextToAdd == c; });
        result.pairs.insert(result.pairs.end(), kept.begin(), kept.end());
        ++nextToAdd;
        added.notify_all();
    });
    if (cancel.isCancelled()) return std::nullopt;

    // Then the feature prints: their verdict on the recorded pairs, and the pairs of pictures
    // that share corners though their hashes are far apart (crops).
    const auto neighbours = FeatureNeighbours::proposals(result.features, &cancel);
    for (const auto& [first, second] : neighbours)
        if (!std::binary_search(candidates.begin(), candidates.end(), pack(first, second, false)) &&
            !std::binary_search(candidates.begin(), candidates.end(), pack(first, second, true)))
            ++result.candidatesProposed;
    auto judged = PairsByFeaturePrint::withPrints(std::move(result.pairs), neighbours, result.features, cancel);
    if (!judged) return std::nullopt;
    result.pairs = std::move(*judged);
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
