// Turns the pictures of a scan into a similarity index: measures every picture (reusing the
// feature cache), proposes candidate pairs cheaply from the perceptual hashes and from capture
// times, and evaluates the candidates in parallel. A second pass reads faces for the pictures
// that ended up in some pair.
#pragma once

#include "FeatureCache.h"
#include "FeatureExtractor.h"
#include "SimilarityIndex.h"

#include "engine/scan/CancellationFlag.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace vp {

/// A count shared by workers: each adds one and reports the new value.
class ProgressCounter {
public:
    std::int64_t increment() {
        std::lock_guard lock(m_mutex);
        return ++m_value;
    }

private:
    std::mutex m_mutex;
    std::int64_t m_value = 0;
};

namespace SimilarityMatcher {

/// (done, total); called from worker threads.
using Progress = std::function<void(std::int64_t done, std::int64_t total)>;
/// Replaces reading a file, for pictures that are not plain files.
using FeatureReader = std::function<std::optional<ImageFeatures>(const PhotoAsset&)>;
using FaceReader = std::function<std::optional<FaceReading>(const PhotoAsset&)>;

struct CandidatePair {
    std::int64_t first = 0; ///< first < second
    std::int64_t second = 0;
    bool isTimeNeighbour = false;

    bool operator==(const CandidatePair&) const = default;
};

/// Shots this close in one folder are always compared, whatever their hashes.
inline constexpr double timeNeighbourSeconds = 60.0;

/// One more source of candidate pairs beside the hash bands and the capture times, for instance
/// nearest neighbours in another feature space: pairs of measured pictures in any order, each
/// pair once or more. A pair the bands or the capture times propose too is evaluated once, as
/// theirs; any other is evaluated as a band proposal is.
using ProposalSource = std::function<std::vector<CandidatePair>(const std::vector<std::optional<ImageFeatures>>&,
                                                                const std::vector<PhotoAsset>&)>;

/// Measures and compares the pictures. Absent when cancelled (the cache is then not saved).
std::optional<SimilarityIndex> index(const std::vector<PhotoAsset>& pictures, FeatureCache* cache,
                                     WithFeaturePrint withFeaturePrint, const FeatureReader& read,
                                     const CancellationFlag& cancel, const Progress& progress,
                                     const ProposalSource& moreProposals = nullptr);

/// The comparing half of `index`, for features already measured (absent where unmeasured): the
/// candidates and their evaluation. Absent when cancelled.
std::optional<SimilarityIndex> compare(std::vector<PhotoAsset> pictures, std::vector<std::optional<ImageFeatures>> features,
                                       WithFeaturePrint withFeaturePrint, const CancellationFlag& cancel,
                                       const ProposalSource& moreProposals = nullptr);

/// Receives kept pairs a batch at a time, from up to four worker threads at once.
using PairSink = std::function<void(std::span<const SimilarPair>)>;

/// Proposes the candidates `compare` proposes and evaluates each as soon as it is proposed (the
/// feature prints judging it where both pictures have one), handing the pairs worth recording to
/// `kept` in no particular order. Holds neither the candidates nor the
/// pairs, so its memory stays that of the pictures however many pairs there are. Returns how many
/// candidates were evaluated; absent when cancelled.
std::optional<std::int64_t> forEachPair(const std::vector<std::optional<ImageFeatures>>& features,
                                        const std::vector<PhotoAsset>& pictures, WithFeaturePrint withFeaturePrint,
                                        const CancellationFlag& cancel, const PairSink& kept,
                                        const ProposalSource& moreProposals = nullptr);

/// Pairs worth evaluating, sorted by (first, second): pictures whose hashes agree exactly in at
/// least one byte position in some orientation and lie within the candidate distance, and, when
/// asked, shots at most a minute apart in one folder.
std::vector<CandidatePair> candidatePairs(const std::vector<std::optional<ImageFeatures>>& features,
                                          const std::vector<PhotoAsset>& pictures, bool timeNeighbours);

/// Whether a pair is worth recording: only a grouping can read it, so only a pair some preset may
/// accept (the broadest looks furthest, and links a burst's shots within that distance) or two
/// shots near enough in time and look for a series. Real photos propose about 1 % of all their
/// pairs and nearly all come within the candidate distance: a million pictures could not hold
/// them all.
bool recorded(const SimilarPair& pair, bool isTimeNeighbour);

/// The pair the hashes make of a candidate, or nothing when it is too far apart.
std::optional<SimilarPair> evaluate(const CandidatePair& candidate, const ImageFeatures& a, const ImageFeatures& b,
                                    const std::optional<FeaturePrintObservation>& printA,
                                    const std::optional<FeaturePrintObservation>& printB);

/// The index with face readings of every paired, measured picture. Absent when cancelled.
std::optional<SimilarityIndex> checkFaces(const SimilarityIndex& index, FeatureCache* cache, const FaceReader& read,
                                          const CancellationFlag& cancel, const Progress& progress);

} // namespace SimilarityMatcher
} // namespace vp
