// Perceptual hashes with the statistics of real photos, for benchmarks at a scale no photo
// collection on this machine reaches.
//
// Real hashes are far from uniform: the pHash's low-frequency bytes repeat a few patterns, so the
// band index's buckets are much fuller than 1/256 of the pictures, and unrelated photos fall
// within the candidate distance more often than random bits do. The model is a Gaussian copula
// fitted to the hashes (all four turns, 256 bits together) of many real crops and frames: each bit
// keeps its own frequency and every two bits their correlation.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vp::bench {

using Turns = std::array<std::uint64_t, 4>;

/// The hashes of one real picture or crop; `source` names the photo it was cut from.
struct HashSample {
    std::string source;
    Turns turns{};
};

/// The hashes of every listed picture and of `cropsPerPicture` seeded crops of it (each side 35 to
/// 100 % of the picture's, anywhere inside it), measured as the matcher measures a picture.
std::vector<HashSample> realHashes(const std::vector<std::string>& paths, int cropsPerPicture, unsigned seed);

class HashModel {
public:
    static HashModel fit(const std::vector<HashSample>& samples);
    /// False when the file is missing or not a model.
    bool load(const std::string& path);
    bool save(const std::string& path) const;

    Turns sample(std::mt19937_64& random) const;

private:
    static constexpr std::size_t bits = 256;
    std::array<double, bits> m_threshold{};
    std::vector<double> m_lower; // Cholesky factor of the latent correlation, row by row
};

/// What the band index's cost and output depend on, for comparing real and generated hashes.
struct HashStatistics {
    std::size_t pictures = 0;
    double bucketShare = 0;      ///< mean over byte positions of Σ p(v)²: a band's share of all pictures
    double meanSetBits = 0;      ///< in the upright hash
    double meanLeast = 0;        ///< least distance between unrelated pictures over the four turns
    double deviationLeast = 0;
    double withinBroad = 0;      ///< share of unrelated pairs at most 16 bits apart
    double withinCandidate = 0;  ///< share of unrelated pairs at most 20 bits apart
    double sharingAByte = 0;     ///< share of unrelated pairs that some band puts together
    double proposed = 0;         ///< share of unrelated pairs the band index proposes (both)
};

/// Pairs from different sources only; at most `pairLimit` of them, evenly spread.
HashStatistics statistics(const std::vector<HashSample>& samples, std::size_t pairLimit = 20'000'000);

} // namespace vp::bench
