#include "SimilarityMatcher.h"

#include "BandIndex.h"
#include "FaceCheck.h"
#include "FeatureNeighbours.h"
#include "PairsByFeaturePrint.h"

#include "engine/scan/ParallelMap.h"

#include <algorithm>
#include <atomic>
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

double keptWithin(const CandidatePair& candidate) {
    return candidate.isTimeNeighbour ? SimilarityThresholds::seriesRelated
                                     : static_cast<double>(SimilarityThresholds::candidateHamming);
}

/// The pair, or nothing when its hashes lie more than `limit` bits apart.
template <class Record>
std::optional<SimilarPair> evaluateRecords(const CandidatePair& candidate, const Record& a, const Record& b,
                                           const std::optional<FeaturePrintObservation>& printA,
                                           const std::optional<FeaturePrintObservation>& printB, double limit) {
    const auto match = FeatureExtractor::hashMatch(a, b);
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
    return evaluateRecords(candidate, a, b, printA, printB, keptWithin(candidate));
}

bool recorded(const SimilarPair& pair, bool isTimeNeighbour) {
    return (pair.shapesAgree && pair.distance <= SimilarityThresholds::broad) ||
           (isTimeNeighbour && pair.distance <= SimilarityThresholds::seriesRelated);
}

std::optional<SimilarityIndex> index(const std::vector<PhotoAsset>& pictures, FeatureCache* cache,
                                     WithFeaturePrint withFeaturePrint, const FeatureReader& read,
                                     const CancellationFlag& cancel, const Progress& progress,
                                     const ProposalSource& moreProposals) {
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
    return compare(pictures, std::move(features), withFeaturePrint, cancel, moreProposals);
}

namespace {

/// What evaluating a candidate reads, in arrays indexed by picture: the sketches (one block of
/// memory each, rather than the records' scattered allocations), and where and when each
/// picture was taken, so that whether two pictures are time neighbours is a comparison rather
/// than a lookup.
struct Evaluation {
    const std::vector<std::optional<ImageFeatures>>& features;
    std::vector<std::optional<HashSketch>> sketches;
    std::optional<FeaturePrintObservation> noPrint;
    std::vector<std::int32_t> folder; // -1 when undated or unmeasured
    std::vector<Timestamp::rep> date;
    Timestamp::rep window = 0;
    std::vector<bool> printed; // has a feature print: asked of every near pair, so kept apart from the records

    Evaluation(const std::vector<std::optional<ImageFeatures>>& measured, const std::vector<PhotoAsset>& pictures)
        : features(measured), sketches(measured.size()), folder(measured.size(), -1), date(measured.size(), 0),
          printed(measured.size(), false) {
        window = std::chrono::duration_cast<Timestamp::duration>(std::chrono::duration<double>(timeNeighbourSeconds)).count();
        std::map<std::string, std::int32_t> folders;
        for (std::size_t i = 0; i < measured.size(); ++i) {
            if (!measured[i]) continue;
            sketches[i] = HashSketch::of(*measured[i]);
            printed[i] = measured[i]->featurePrint.has_value();
            if (measured[i]->captureDate) {
                folder[i] = folders.try_emplace(pictures[i].folder(), static_cast<std::int32_t>(folders.size())).first->second;
                date[i] = measured[i]->captureDate->time_since_epoch().count();
            }
        }
    }

    void prefetch(BandIndex::Proposal p) const {
        for (const std::size_t i : {std::size_t{BandIndex::firstOf(p)}, std::size_t{BandIndex::secondOf(p)}}) {
            const char* sketch = reinterpret_cast<const char*>(&sketches[i]);
            for (std::size_t line = 0; line < sizeof(sketches[i]); line += 64) __builtin_prefetch(sketch + line);
        }
    }

    bool timeNeighbours(std::size_t a, std::size_t b) const {
        return folder[a] >= 0 && folder[a] == folder[b] && (date[a] > date[b] ? date[a] - date[b] : date[b] - date[a]) <= window;
    }

    /// The pair as the hashes alone see it, or nothing when they lie more than `limit` bits apart.
    std::optional<SimilarPair> byHashes(const CandidatePair& candidate, double limit) const {
        const auto first = static_cast<std::size_t>(candidate.first), second = static_cast<std::size_t>(candidate.second);
        if (sketches[first] && sketches[second])
            return evaluateRecords(candidate, *sketches[first], *sketches[second], noPrint, noPrint, limit);
        if (features[first] && features[second])
            return evaluateRecords(candidate, *features[first], *features[second], noPrint, noPrint, limit);
        return std::nullopt;
    }

    /// Who speaks on a candidate: the hashes, with the prints' verdict on a near pair; the prints
    /// alone, on a pair only they proposed; or the prints too when the hashes keep nothing, on a
    /// pair the prints and another source both proposed (a crop shot, or dated, with its original).
    enum class Judges { hashes, prints, hashesThenPrints };

    /// The pair to record for the candidate {first, second}, first < second: made by `judges`,
    /// and kept only when some grouping can read it.
    std::optional<SimilarPair> operator()(std::size_t first, std::size_t second, Judges judges = Judges::hashes) const {
        const bool printsOnly = judges == Judges::prints;
        const CandidatePair candidate{static_cast<std::int64_t>(first), static_cast<std::int64_t>(second),
                                      timeNeighbours(first, second)};
        const auto& a = features[first];
        const auto& b = features[second];
        const bool judgeable = printed[first] && printed[second];
        // Most candidates lie beyond what any grouping reads, and the prints can bring only near
        // ones closer: those are dropped before their detail is compared.
        const double worthRecording = candidate.isTimeNeighbour ? SimilarityThresholds::seriesRelated
                                      : judgeable               ? SimilarityThresholds::candidateHamming
                                                                : SimilarityThresholds::broad;
        auto pair = printsOnly ? std::nullopt : byHashes(candidate, std::min(worthRecording, keptWithin(candidate)));
        // Pairs kept for bursts alone, further apart than any other candidate, are left to the hashes.
        const bool near = pair && pair->distance <= static_cast<float>(SimilarityThresholds::candidateHamming);
        if ((near || printsOnly || (!pair && judges == Judges::hashesThenPrints)) && judgeable) {
            if (const auto match = PairsByFeaturePrint::match(*a, *b))
                pair = pair ? PairsByFeaturePrint::judged(*pair, *match)
                            : PairsByFeaturePrint::fromPrints(candidate.first, candidate.second, *a, *b, *match);
        }
        if (!pair || !recorded(*pair, candidate.isTimeNeighbour)) return std::nullopt;
        return pair;
    }
};

/// A kept pair without a feature-print distance, in 16 bytes instead of a record's 48.
struct PackedPair {
    std::uint32_t a = 0, b = 0;
    float distance = 0;
    std::int16_t detail = 0;
    bool shapesAgree = false;

    static std::optional<PackedPair> of(const SimilarPair& pair) {
        if (pair.vision || pair.a < 0 || pair.b < 0 || pair.a > UINT32_MAX || pair.b > UINT32_MAX || pair.detail < 0 ||
            pair.detail > INT16_MAX)
            return std::nullopt;
        return PackedPair{static_cast<std::uint32_t>(pair.a), static_cast<std::uint32_t>(pair.b), pair.distance,
                          static_cast<std::int16_t>(pair.detail), pair.shapesAgree};
    }
    SimilarPair unpacked() const { return {a, b, distance, detail, shapesAgree, std::nullopt}; }
};

/// The time neighbours the bands do not propose, sorted.
std::vector<std::pair<std::size_t, std::size_t>> timeOnly(const std::vector<std::optional<ImageFeatures>>& features,
                                                          const std::vector<PhotoAsset>& pictures,
                                                          const std::vector<std::optional<BandIndex::Member>>& member) {
    std::vector<std::pair<std::size_t, std::size_t>> only;
    for (const auto& [a, b] : timeNeighbourPairs(features, pictures)) {
        const auto x = static_cast<std::size_t>(a), y = static_cast<std::size_t>(b);
        if (!(member[x] && member[y] && BandIndex::proposed(*member[x], *member[y], SimilarityThresholds::candidateHamming)))
            only.emplace_back(x, y);
    }
    return only;
}

} // namespace

std::optional<std::int64_t> forEachPair(const std::vector<std::optional<ImageFeatures>>& features,
                                        const std::vector<PhotoAsset>& pictures, WithFeaturePrint withFeaturePrint,
                                        const CancellationFlag& cancel, const PairSink& kept,
                                        const ProposalSource& moreProposals) {
    (void)withFeaturePrint; // every print measured speaks, whoever asked for it
    const Evaluation evaluation(features, pictures);
    const auto members = bandMembers(features);
    std::vector<std::optional<BandIndex::Member>> member(features.size());
    for (const auto& m : members) member[m.picture] = m;
    std::atomic<std::int64_t> candidates{0};

    // The band proposals are evaluated where they are found, a band at a time, so they are never
    // held all at once: there are about as many as 1 % of all pairs of real photos.
    BandIndex::forEachProposal(members, SimilarityThresholds::candidateHamming, &cancel,
                               [&](std::span<const BandIndex::Proposal> found) {
                                   thread_local std::vector<SimilarPair> batch;
                                   batch.clear();
                                   for (std::size_t k = 0; k < found.size(); ++k) {
                                       // Both pictures are anywhere in the index: ask for them a few pairs ahead.
                                       if (k + 8 < found.size()) evaluation.prefetch(found[k + 8]);
                                       if (auto pair = evaluation(BandIndex::firstOf(found[k]), BandIndex::secondOf(found[k])))
                                           batch.push_back(*pair);
                                       // The fullest bands of real hashes hold millions of pairs:
                                       // handed on in slices, so no worker holds a band's worth.
                                       if (batch.size() == 1 << 16) {
                                           kept(batch);
                                           batch.clear();
                                       }
                                   }
                                   candidates += static_cast<std::int64_t>(found.size());
                                   if (!batch.empty()) kept(batch);
                               });
    if (cancel.isCancelled()) return std::nullopt;

    // Then the pairs only the capture times, another source or the feature prints propose; the
    // prints' proposals are few, and find the versions whose hashes lie far apart (crops).
    const auto unproposed = [&](std::int64_t i, std::int64_t j) -> std::optional<std::pair<std::size_t, std::size_t>> {
        if (i == j || i < 0 || j < 0) return std::nullopt;
        const auto x = static_cast<std::size_t>(std::min(i, j)), y = static_cast<std::size_t>(std::max(i, j));
        if (y >= features.size() || !features[x] || !features[y] || evaluation.timeNeighbours(x, y)) return std::nullopt;
        if (member[x] && member[y] && BandIndex::proposed(*member[x], *member[y], SimilarityThresholds::candidateHamming))
            return std::nullopt;
        return std::pair{x, y};
    };
    const auto sortedOnce = [](std::vector<std::pair<std::size_t, std::size_t>>& pairs) {
        std::sort(pairs.begin(), pairs.end());
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    };
    auto byHashes = timeOnly(features, pictures, member);
    std::vector<std::pair<std::size_t, std::size_t>> more, byPrints;
    if (moreProposals)
        for (const auto& c : moreProposals(features, pictures))
            if (const auto p = unproposed(c.first, c.second)) more.push_back(*p);
    sortedOnce(more);
    byHashes.insert(byHashes.end(), more.begin(), more.end());
    std::sort(byHashes.begin(), byHashes.end());
    std::vector<std::pair<std::size_t, std::size_t>> alsoByPrints; // proposed by another source too
    for (const auto& [i, j] : FeatureNeighbours::proposals(features, &cancel)) {
        const std::pair<std::size_t, std::size_t> p{i, j};
        if (std::binary_search(byHashes.begin(), byHashes.end(), p)) alsoByPrints.push_back(p);
        else if (unproposed(i, j)) byPrints.push_back(p);
    }
    if (cancel.isCancelled()) return std::nullopt;
    candidates += static_cast<std::int64_t>(byHashes.size() + byPrints.size());
    constexpr std::size_t chunk = 4096;
    using Judges = Evaluation::Judges;
    ExactMatcher::concurrentPerform((byHashes.size() + chunk - 1) / chunk, &cancel, [&](std::size_t c) {
        std::vector<SimilarPair> batch;
        for (std::size_t k = c * chunk; k < std::min(byHashes.size(), (c + 1) * chunk); ++k) {
            const auto [x, y] = byHashes[k];
            const bool both = std::binary_search(alsoByPrints.begin(), alsoByPrints.end(), byHashes[k]);
            if (auto pair = evaluation(x, y, both ? Judges::hashesThenPrints : Judges::hashes)) batch.push_back(*pair);
        }
        if (!batch.empty()) kept(batch);
    });
    ExactMatcher::concurrentPerform((byPrints.size() + chunk - 1) / chunk, &cancel, [&](std::size_t c) {
        std::vector<SimilarPair> batch;
        for (std::size_t k = c * chunk; k < std::min(byPrints.size(), (c + 1) * chunk); ++k)
            if (auto pair = evaluation(byPrints[k].first, byPrints[k].second, Judges::prints)) batch.push_back(*pair);
        if (!batch.empty()) kept(batch);
    });
    if (cancel.isCancelled()) return std::nullopt;
    return candidates.load();
}

std::optional<SimilarityIndex> compare(std::vector<PhotoAsset> pictures, std::vector<std::optional<ImageFeatures>> features,
                                       WithFeaturePrint withFeaturePrint, const CancellationFlag& cancel,
                                       const ProposalSource& moreProposals) {
    SimilarityIndex result;
    result.pictures = std::move(pictures);
    result.features = std::move(features);
    result.features.resize(result.pictures.size());
    for (std::size_t i = 0; i < result.pictures.size(); ++i)
        if (!result.features[i]) result.unmeasured.push_back(result.pictures[i].path);

    // The kept pairs arrive in batches, in no order. They are held packed (a third of a pair's
    // size), filed by their first picture into a few ranges, and then each range in turn is
    // sorted and unpacked onto the end of the index's pairs and let go, so that the packed and
    // the unpacked pairs are never all held at once.
    const std::size_t ranges = std::clamp<std::size_t>(result.pictures.size() / 4096, 1, 64);
    const auto rangeOf = [&](std::int64_t first) {
        return static_cast<std::size_t>(first) * ranges / result.pictures.size();
    };
    std::mutex mutex;
    std::vector<std::vector<std::vector<PackedPair>>> packedIn(ranges);
    std::vector<std::vector<SimilarPair>> withVisionIn(ranges);
    std::size_t total = 0;
    const auto proposed = forEachPair(
        result.features, result.pictures, withFeaturePrint, cancel,
        [&](std::span<const SimilarPair> batch) {
            std::vector<std::vector<PackedPair>> packed(ranges);
            std::vector<SimilarPair> rest;
            for (const auto& pair : batch)
                if (const auto p = PackedPair::of(pair)) packed[rangeOf(pair.a)].push_back(*p);
                else rest.push_back(pair);
            std::lock_guard lock(mutex);
            total += batch.size();
            for (std::size_t r = 0; r < ranges; ++r)
                if (!packed[r].empty()) {
                    packed[r].shrink_to_fit();
                    packedIn[r].push_back(std::move(packed[r]));
                }
            for (const auto& pair : rest) withVisionIn[rangeOf(pair.a)].push_back(pair);
        },
        moreProposals);
    if (!proposed) return std::nullopt;
    result.candidatesProposed = *proposed;

    result.pairs.reserve(total);
    for (std::size_t r = 0; r < ranges; ++r) {
        std::vector<SimilarPair> range = std::move(withVisionIn[r]);
        for (auto& batch : packedIn[r]) {
            for (const auto& p : batch) range.push_back(p.unpacked());
            std::vector<PackedPair>().swap(batch);
        }
        std::sort(range.begin(), range.end(),
                  [](const SimilarPair& x, const SimilarPair& y) { return x.a != y.a ? x.a < y.a : x.b < y.b; });
        result.pairs.insert(result.pairs.end(), range.begin(), range.end());
    }
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
