// How many pairs the feature neighbours propose on a photo set with its truth, how many of the
// set's versions of one photo they find (crops above all: the hashes miss them), and how the
// proposer grows with the collection.
//
//   neighbours-bench SET_DIR [REPLICAS [SHARED CROWDED PARTNERS]]
//
// SHARED, CROWDED and PARTNERS replace the proposer's settings (FeatureNeighbours::Settings).
//
// The set is the shared photo set (build/photo-set: truth/similar.tsv names each picture's
// original and kind of version). Measurements are kept in a feature cache,
// build/neighbours-bench.cache under the current folder, so that a second run reads nothing.
// With REPLICAS, the set's keys are filed REPLICAS times, each copy's keys turned by its own
// random bits (a bijection of the key space per copy, as if every descriptor bit were flipped
// by one mask): each copy keeps the set's own structure and crowding, and the copies share keys
// only by chance, like the photos of an unrelated collection.
#include "engine/scan/ExactMatcher.h"
#include "engine/similarity/FeatureCache.h"
#include "engine/similarity/FeatureExtractor.h"
#include "engine/similarity/FeatureNeighbours.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>

using namespace vp;

namespace {

double secondsSince(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long peakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

struct Truth {
    std::string original;
    std::string variant;
};

} // namespace

namespace {

constexpr const char* usage = "usage: neighbours-bench SET_DIR [REPLICAS [SHARED CROWDED PARTNERS]]\n";

/// A count given on the command line; absent when it is not one.
std::optional<std::size_t> count(const char* text) {
    try {
        std::size_t end = 0;
        const auto value = std::stoul(text, &end);
        if (end == std::string(text).size() && text[0] != '-') return value;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    std::error_code error;
    const std::filesystem::path set = argc > 1 ? std::filesystem::canonical(argv[1], error) : "";
    std::vector<std::size_t> numbers;
    for (int k = 2; k < argc; ++k)
        if (const auto n = count(argv[k])) numbers.push_back(*n);
    if (argc < 2 || error || numbers.size() != static_cast<std::size_t>(argc - 2) || (argc != 3 && argc != 6 && argc != 2) ||
        (argc == 6 && (numbers[1] == 0 || numbers[1] > 64))) {
        std::fputs(usage, stderr);
        return 2;
    }
    const std::size_t replicas = numbers.empty() ? 0 : numbers[0];
    FeatureNeighbours::Settings settings;
    if (argc == 6) settings = {static_cast<int>(numbers[1]), numbers[2], numbers[3]};
    std::printf("settings: %d shared keys, keys of at most %zu pictures, %zu partners each\n", settings.sharedKeys,
                settings.crowdedKey, settings.partners);
    std::map<std::string, Truth> truth; // by path
    {
        std::ifstream in(set / "truth/similar.tsv");
        std::string line;
        std::getline(in, line); // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string path, original, variant;
            std::getline(fields, path, '\t');
            std::getline(fields, original, '\t');
            std::getline(fields, variant, '\t');
            truth[std::filesystem::weakly_canonical(set / path).string()] = {original, variant};
        }
    }
    if (truth.empty()) {
        std::fprintf(stderr, "no truth in %s\n", (set / "truth/similar.tsv").c_str());
        return 1;
    }

    CancellationFlag cancel;
    const ScanResult scan = ExactMatcher::scan({(set / "similar").string()}, true, std::nullopt, {}, cancel, nullptr);
    FeatureCache cache((std::filesystem::path("build") / "neighbours-bench.cache").string());
    const auto measured = ExactMatcher::parallelMap(scan.pictures, &cancel, [&](const PhotoAsset& picture) {
        auto features = cache.lookup(picture);
        if (!features || !features->featurePrint) {
            features = FeatureExtractor::features(picture.path, WithFeaturePrint::yes);
            if (features) cache.store(picture, *features);
        }
        return features;
    });
    cache.save();
    std::vector<std::optional<ImageFeatures>> features;
    std::vector<const Truth*> truthOf;
    for (std::size_t i = 0; i < scan.pictures.size(); ++i) {
        features.push_back(measured[i] ? *measured[i] : std::nullopt);
        const auto found = truth.find(scan.pictures[i].path);
        truthOf.push_back(found == truth.end() ? nullptr : &found->second);
    }

    const auto began = std::chrono::steady_clock::now();
    const auto proposed = FeatureNeighbours::proposals(features, nullptr, settings);
    const double took = secondsSince(began);
    const std::set<std::pair<std::uint32_t, std::uint32_t>> proposedSet(proposed.begin(), proposed.end());
    std::map<std::string, std::pair<int, int>> byVariant; // variant → (proposed, versions)
    for (std::uint32_t i = 0; i < features.size(); ++i)
        for (std::uint32_t j = i + 1; j < features.size(); ++j) {
            if (!truthOf[i] || !truthOf[j] || truthOf[i]->original != truthOf[j]->original) continue;
            // Each version counts once, with its original.
            const Truth* version = truthOf[i]->variant == "master" ? truthOf[j] : truthOf[j]->variant == "master" ? truthOf[i] : nullptr;
            if (!version) continue;
            auto& counts = byVariant[version->variant];
            counts.first += proposedSet.contains({i, j});
            ++counts.second;
        }
    const std::size_t n = features.size();
    std::printf("%zu pictures: %zu of %zu pairs proposed (%.2f %%) in %.3f s\n", n, proposed.size(), n * (n - 1) / 2,
                100.0 * double(proposed.size()) / double(n * (n - 1) / 2), took);
    int found = 0, versions = 0;
    for (const auto& [variant, counts] : byVariant) {
        std::printf("  %-14s %2d of %2d versions proposed with their original\n", variant.c_str(), counts.first, counts.second);
        found += counts.first;
        versions += counts.second;
    }
    std::printf("  all            %d of %d\n", found, versions);

    if (replicas > 0) {
        std::vector<std::vector<std::uint32_t>> keys;
        for (const auto& f : features) keys.push_back(f && f->featurePrint ? FeatureNeighbours::keys(*f->featurePrint)
                                                                           : std::vector<std::uint32_t>{});
        std::mt19937 random(7);
        std::vector<std::vector<std::uint32_t>> all;
        all.reserve(keys.size() * replicas);
        for (std::size_t r = 0; r < replicas; ++r) {
            const std::uint32_t mask = random() & FeatureNeighbours::keyValueMask;
            for (const auto& own : keys) {
                std::vector<std::uint32_t> turned(own);
                for (auto& key : turned) key ^= r == 0 ? 0 : mask; // the first copy is the set itself
                std::sort(turned.begin(), turned.end());
                all.push_back(std::move(turned));
            }
        }
        const auto scaled = std::chrono::steady_clock::now();
        const auto more = FeatureNeighbours::proposalsOfKeys(all, nullptr, settings);
        std::printf("%zu pictures (%zu copies): %zu pairs proposed (%.1f per picture) in %.2f s, peak %ld MiB\n",
                    all.size(), replicas, more.size(), double(more.size()) / double(all.size()), secondsSince(scaled),
                    peakMegabytes());
    }
    return 0;
}
