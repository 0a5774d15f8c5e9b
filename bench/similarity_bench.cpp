// Similarity at scale and the feature cache.
//
//   similarity-bench scale N [SEED]   synthetic pictures: random hashes with planted near copies,
//                                     quarter-turned copies and bursts; times candidate proposal
//                                     and pair evaluation (the whole index pass, measuring
//                                     replaced by the synthetic features) and reports peak memory.
//   similarity-bench cache FOLDER     indexes the folder's pictures twice with one feature cache
//                                     in a temporary file; the second pass reads nothing.
#include "engine/scan/ExactMatcher.h"
#include "engine/similarity/SimilarityMatcher.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace vp;

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long peakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

int scale(std::size_t count, unsigned seed) {
    std::mt19937_64 random(seed);
    std::vector<PhotoAsset> pictures(count);
    std::vector<ImageFeatures> features(count);
    const auto flip = [&](std::uint64_t hash, int bits) {
        for (int i = 0; i < bits; ++i) hash ^= 1ULL << (random() % 64);
        return hash;
    };
    const Timestamp start{std::chrono::seconds(1600000000)};
    for (std::size_t i = 0; i < count; ++i) {
        pictures[i].path = "/photos/" + std::to_string(i / 500) + "/" + std::to_string(i) + ".jpg";
        pictures[i].snapshot.identity.inode = i;
        ImageFeatures& f = features[i];
        const auto kind = random() % 10;
        if (i > 0 && kind == 0) { // a near copy of the previous picture
            f = features[i - 1];
            for (auto& hash : f.hashes) hash = flip(hash, static_cast<int>(random() % 8));
        } else if (i > 0 && kind == 1) { // the previous picture turned a quarter
            const auto& p = features[i - 1].hashes;
            f.hashes = {p[1], p[2], p[3], p[0]};
        } else {
            f.hashes = {random(), random(), random(), random()};
        }
        f.detailHashes.assign(4, {random(), random(), random(), random()});
        f.pixelWidth = 4032;
        f.pixelHeight = 3024;
        // Bursts: one picture in twenty is shot two seconds after the previous one.
        f.captureDate = start + std::chrono::seconds(kind == 2 ? 2 * i - 1 : 100 * i);
    }
    CancellationFlag cancel;
    const auto began = std::chrono::steady_clock::now();
    const auto index = SimilarityMatcher::index(
        pictures, nullptr, WithFeaturePrint::no,
        [&](const PhotoAsset& asset) { return std::optional<ImageFeatures>(features[asset.snapshot.identity.inode]); },
        cancel, nullptr);
    const double elapsed = seconds(began);
    std::printf("%zu pictures: %.2f s, %lld candidates, %zu pairs, %zu look-alike groups, peak %ld MiB\n", count,
                elapsed, static_cast<long long>(index->candidatesProposed), index->pairs.size(),
                index->groups(SimilarityPreset::balanced).size(), peakMegabytes());
    return 0;
}

int cache(const std::string& folder) {
    CancellationFlag cancel;
    const ScanResult scan = ExactMatcher::scan({folder}, true, std::nullopt, {}, cancel, nullptr);
    const std::string file = std::filesystem::temp_directory_path() / ("similarity-bench-" + std::to_string(::getpid()) + ".plist");
    double passes[2] = {0, 0};
    for (double& pass : passes) {
        FeatureCache features(file); // loaded from disk, as at a new start of the application
        const auto began = std::chrono::steady_clock::now();
        SimilarityMatcher::index(scan.pictures, &features, WithFeaturePrint::no, nullptr, cancel, nullptr);
        pass = seconds(began);
    }
    std::filesystem::remove(file);
    std::printf("%zu pictures: first index %.2f s, second %.3f s (%.1f %% of the first)\n", scan.pictures.size(),
                passes[0], passes[1], 100 * passes[1] / passes[0]);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "scale" && argc > 2) return scale(std::stoul(argv[2]), argc > 3 ? std::stoul(argv[3]) : 7);
    if (mode == "cache" && argc > 2) return cache(argv[2]);
    std::fputs("usage: similarity-bench scale N [SEED] | similarity-bench cache FOLDER\n", stderr);
    return 2;
}
