// Similarity at scale and the feature cache.
//
//   similarity-bench scale N [SEED] [MODEL]
//                                     synthetic pictures: random hashes with planted near copies,
//                                     quarter-turned copies and bursts; times candidate proposal
//                                     and pair evaluation into an index (which holds only the pairs
//                                     a grouping can read) and reports peak memory, then groups it.
//   similarity-bench stream N [SEED] [MODEL]
//                                     the same without the grouping, for a million pictures.
//   similarity-bench proposals N [LOOP] [SEED]
//                                     the band pass alone on the same pictures, counting the
//                                     proposals without keeping them, with the comparison loop
//                                     named (wide, popcount or portable; the fastest by default).
//   similarity-bench real-hashes LIST OUT [CROPS]
//                                     the four-turn hashes of the listed pictures and of CROPS
//                                     seeded crops of each (40 by default), one line each.
//   similarity-bench fit HASHES MODEL fits the hash model to those hashes and compares what it
//                                     draws with them and with uniform bits. scale and
//                                     proposals take the MODEL file as their last argument.
//   similarity-bench pairs FOLDER...  every recorded pair of the folders' pictures.
//   similarity-bench check FOLDER     whether the index of the folder's pictures holds exactly the
//                                     candidates of the candidate list and the pairs that
//                                     evaluating them one by one keeps and records.
//   similarity-bench cache FOLDER     indexes the folder's pictures twice with one feature cache
//                                     in a temporary file; the second pass reads nothing.
//   similarity-bench distances FOLDER how near the folder's pictures come to each other: the
//                                     spread of least hash distances over every pair, and how
//                                     many pairs are within the candidate distance.
#include "engine/scan/ExactMatcher.h"
#include "engine/similarity/BandIndex.h"
#include "engine/similarity/SimilarityMatcher.h"

#include "hash_model.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
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

struct Synthetic {
    std::vector<PhotoAsset> pictures;
    std::vector<std::optional<ImageFeatures>> features;
};

/// Random hashes in 500-picture folders; one picture in ten is a near copy of the one before (up
/// to 7 bits flipped in each turn), one in ten the one before turned a quarter, and one in ten
/// shot two seconds after the one before. The hashes are uniform bits without a model, and drawn
/// from the model (real photos' statistics) with one.
Synthetic synthetic(std::size_t count, unsigned seed, const bench::HashModel* model = nullptr) {
    std::mt19937_64 random(seed);
    Synthetic made{std::vector<PhotoAsset>(count), std::vector<std::optional<ImageFeatures>>(count)};
    const auto flip = [&](std::uint64_t hash, int bits) {
        for (int i = 0; i < bits; ++i) hash ^= 1ULL << (random() % 64);
        return hash;
    };
    Timestamp date{std::chrono::seconds(1600000000)};
    for (std::size_t i = 0; i < count; ++i) {
        made.pictures[i].path = "/photos/" + std::to_string(i / 500) + "/" + std::to_string(i) + ".jpg";
        ImageFeatures f;
        const auto kind = random() % 10;
        const ImageFeatures* before = i > 0 ? &*made.features[i - 1] : nullptr;
        if (before && kind == 0) {
            f = *before;
            for (auto& hash : f.hashes) hash = flip(hash, static_cast<int>(random() % 8));
        } else if (before && kind == 1) {
            const auto& p = before->hashes;
            f.hashes = {p[1], p[2], p[3], p[0]};
        } else if (model) {
            const auto turns = model->sample(random);
            f.hashes.assign(turns.begin(), turns.end());
        } else {
            f.hashes = {random(), random(), random(), random()};
        }
        f.detailHashes.assign(4, {random(), random(), random(), random()});
        f.pixelWidth = 4032;
        f.pixelHeight = 3024;
        date += std::chrono::seconds(kind == 2 ? 2 : 100);
        f.captureDate = date;
        made.features[i] = std::move(f);
    }
    return made;
}

/// The comparing half of an index (candidates and their evaluation) over synthetic features:
/// every candidate is evaluated where it is found and only the pairs a grouping can read are
/// held, so the peak is that of the index the application would hold. `scale` then also groups
/// the index at Balanced; `stream` stops at the index, for sizes where the grouping is not wanted.
int indexed(std::size_t count, unsigned seed, const bench::HashModel* model, bool thenGroups) {
    Synthetic made = synthetic(count, seed, model);
    const long before = peakMegabytes();
    CancellationFlag cancel;
    const auto began = std::chrono::steady_clock::now();
    const auto index = SimilarityMatcher::compare(std::move(made.pictures), std::move(made.features), WithFeaturePrint::no, cancel);
    const double elapsed = seconds(began);
    const auto balanced = std::count_if(index->pairs.begin(), index->pairs.end(),
                                        [](const SimilarPair& p) { return accepts(SimilarityPreset::balanced, p); });
    std::printf("%zu pictures: %.2f s, %lld candidates, %zu pairs recorded (%ld accepted at balanced), peak %ld MiB "
                "(%ld MiB before comparing)\n",
                count, elapsed, static_cast<long long>(index->candidatesProposed), index->pairs.size(),
                static_cast<long>(balanced), peakMegabytes(), before);
    if (thenGroups) {
        const auto grouping = std::chrono::steady_clock::now();
        const auto groups = index->groups(SimilarityPreset::balanced);
        std::printf("  then %zu look-alike groups (balanced) in %.2f s\n", groups.size(), seconds(grouping));
    }
    return 0;
}

/// The band pass alone, counting its proposals without keeping them, with the named loop.
int proposals(std::size_t count, const std::string& loop, unsigned seed, const bench::HashModel* model) {
    const Synthetic made = synthetic(count, seed, model);
    std::vector<BandIndex::Member> members;
    for (std::size_t i = 0; i < count; ++i) {
        const auto& h = made.features[i]->hashes;
        members.push_back({static_cast<std::uint32_t>(i), {h[0], h[1], h[2], h[3]}});
    }
    const std::map<std::string, BandIndex::Instructions> loops{
        {"wide", BandIndex::Instructions::wide}, {"popcount", BandIndex::Instructions::popcount},
        {"portable", BandIndex::Instructions::portable}};
    const auto chosen = loop.empty() ? BandIndex::supportedInstructions().front() : loops.at(loop);
    const auto supported = BandIndex::supportedInstructions();
    if (std::find(supported.begin(), supported.end(), chosen) == supported.end()) {
        std::fprintf(stderr, "this processor cannot run the %s loop\n", loop.c_str());
        return 2;
    }
    std::atomic<std::uint64_t> found{0};
    const auto began = std::chrono::steady_clock::now();
    BandIndex::forEachProposal(members, SimilarityThresholds::candidateHamming, nullptr,
                               [&](std::span<const BandIndex::Proposal> some) { found += some.size(); }, chosen);
    std::printf("%zu pictures: band pass %.2f s, %llu proposals, peak %ld MiB\n", count, seconds(began),
                static_cast<unsigned long long>(found.load()), peakMegabytes());
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

int distances(const std::string& folder) {
    CancellationFlag cancel;
    const ScanResult scan = ExactMatcher::scan({folder}, true, std::nullopt, {}, cancel, nullptr);
    const auto index = SimilarityMatcher::index(scan.pictures, nullptr, WithFeaturePrint::no, nullptr, cancel, nullptr);
    std::vector<const ImageFeatures*> measured;
    for (const auto& features : index->features)
        if (features) measured.push_back(&*features);
    std::vector<long> spread(65, 0);
    long pairs = 0;
    double sum = 0, squares = 0;
    for (std::size_t a = 0; a < measured.size(); ++a)
        for (std::size_t b = a + 1; b < measured.size(); ++b) {
            const int d = FeatureExtractor::hashMatch(*measured[a], *measured[b]).distance;
            ++spread[static_cast<std::size_t>(d)];
            ++pairs;
            sum += d;
            squares += double(d) * d;
        }
    const double mean = sum / double(pairs);
    long within = 0;
    for (int d = 0; d <= SimilarityThresholds::candidateHamming; ++d) within += spread[static_cast<std::size_t>(d)];
    std::printf("%zu pictures, %ld pairs: least distance mean %.2f, deviation %.2f; %ld pairs (%.3f %%) within %d, %lld "
                "proposed\n",
                measured.size(), pairs, mean, std::sqrt(squares / double(pairs) - mean * mean), within,
                100.0 * double(within) / double(pairs), SimilarityThresholds::candidateHamming,
                static_cast<long long>(index->candidatesProposed));
    for (int d = 0; d <= 64; ++d)
        if (spread[static_cast<std::size_t>(d)]) std::printf("%2d %ld\n", d, spread[static_cast<std::size_t>(d)]);
    return 0;
}

/// Every recorded pair of the folder's pictures, with their names and capture times.
int pairs(const std::vector<std::string>& folders) {
    const std::string folder = folders.front();
    CancellationFlag cancel;
    const ScanResult scan = ExactMatcher::scan(folders, true, std::nullopt, {}, cancel, nullptr);
    const auto index = SimilarityMatcher::index(scan.pictures, nullptr, WithFeaturePrint::yes, nullptr, cancel, nullptr);
    const auto name = [&](std::int64_t i) { return index->pictures[static_cast<std::size_t>(i)].path.substr(folder.size()); };
    for (const auto& pair : index->pairs)
        std::printf("%s | %s | distance %.1f detail %lld%s%s\n", name(pair.a).c_str(), name(pair.b).c_str(), pair.distance,
                    static_cast<long long>(pair.detail), pair.shapesAgree ? "" : " shapes differ",
                    pair.vision ? (" print " + std::to_string(*pair.vision)).c_str() : "");
    std::printf("%zu pairs of %lld candidates\n", index->pairs.size(), static_cast<long long>(index->candidatesProposed));
    return 0;
}

/// Whether indexing the folder's pictures gives exactly the candidates of the candidate list and
/// the pairs that evaluating them one by one keeps.
int check(const std::string& folder) {
    CancellationFlag cancel;
    const ScanResult scan = ExactMatcher::scan({folder}, true, std::nullopt, {}, cancel, nullptr);
    const auto index = SimilarityMatcher::index(scan.pictures, nullptr, WithFeaturePrint::no, nullptr, cancel, nullptr);
    const auto candidates = SimilarityMatcher::candidatePairs(index->features, index->pictures, true);
    std::vector<SimilarPair> expected;
    for (const auto& c : candidates) {
        const auto& a = index->features[static_cast<std::size_t>(c.first)];
        const auto& b = index->features[static_cast<std::size_t>(c.second)];
        if (a && b)
            if (auto pair = SimilarityMatcher::evaluate(c, *a, *b, {}, {}); pair && SimilarityMatcher::recorded(*pair, c.isTimeNeighbour))
                expected.push_back(*pair);
    }
    const bool same = index->pairs == expected && index->candidatesProposed == static_cast<std::int64_t>(candidates.size());
    std::printf("%zu pictures: %lld candidates (list: %zu), %zu pairs (one by one: %zu): %s\n", index->pictures.size(),
                static_cast<long long>(index->candidatesProposed), candidates.size(), index->pairs.size(), expected.size(),
                same ? "the same" : "DIFFERENT");
    return same ? 0 : 1;
}

std::vector<bench::HashSample> readSamples(const std::string& file) {
    std::vector<bench::HashSample> samples;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.rfind('\t');
        if (tab == std::string::npos) continue;
        bench::HashSample sample{line.substr(0, tab), {}};
        if (std::sscanf(line.c_str() + tab + 1, "%lx %lx %lx %lx", &sample.turns[0], &sample.turns[1], &sample.turns[2],
                        &sample.turns[3]) == 4)
            samples.push_back(std::move(sample));
    }
    return samples;
}

/// The hashes of the listed pictures (one path a line) and of seeded crops of each, one line each:
/// the picture's path, a tab, the four turns in hexadecimal.
int realHashes(const std::string& list, const std::string& out, int crops) {
    std::vector<std::string> paths;
    std::ifstream in(list);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) paths.push_back(line);
    const auto samples = bench::realHashes(paths, crops, 7);
    std::ofstream file(out);
    for (const auto& s : samples)
        file << s.source << '\t' << std::hex << s.turns[0] << ' ' << s.turns[1] << ' ' << s.turns[2] << ' ' << s.turns[3]
             << std::dec << '\n';
    std::printf("%zu pictures: %zu hashes\n", paths.size(), samples.size());
    return 0;
}

void printStatistics(const char* name, const bench::HashStatistics& s) {
    std::printf("| %s | %zu | %.4f | %.1f | %.2f ± %.2f | %.5f | %.4f | %.3f | %.5f |\n", name, s.pictures, s.bucketShare,
                s.meanSetBits, s.meanLeast, s.deviationLeast, s.withinBroad, s.withinCandidate, s.sharingAByte, s.proposed);
}

/// Fits the model to the real hashes and compares what it draws with them and with uniform bits.
int fit(const std::string& samplesFile, const std::string& modelFile) {
    const auto real = readSamples(samplesFile);
    const auto model = bench::HashModel::fit(real);
    if (!model.save(modelFile)) return std::fprintf(stderr, "cannot write %s\n", modelFile.c_str()), 1;
    std::mt19937_64 random(11);
    std::vector<bench::HashSample> drawn(std::min<std::size_t>(real.size(), 10000)), uniform(drawn.size());
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        drawn[i] = {std::to_string(i), model.sample(random)};
        uniform[i] = {std::to_string(i), {random(), random(), random(), random()}};
    }
    std::puts("| hashes | pictures | band share (1/256 = 0.0039) | set bits | least distance, unrelated | within 16 "
              "| within 20 | sharing a band | proposed |");
    std::puts("|---|---:|---:|---:|---:|---:|---:|---:|---:|");
    printStatistics("real crops and frames", bench::statistics(real));
    printStatistics("drawn from the model", bench::statistics(drawn));
    printStatistics("uniform bits", bench::statistics(uniform));
    return 0;
}

std::optional<bench::HashModel> modelFrom(int argc, char** argv, int at) {
    if (argc <= at || std::string(argv[at]) == "uniform") return std::nullopt;
    bench::HashModel model;
    if (!model.load(argv[at])) {
        std::fprintf(stderr, "no hash model in %s\n", argv[at]);
        std::exit(2);
    }
    return model;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "scale" && argc > 2) {
        const auto model = modelFrom(argc, argv, 4);
        return indexed(std::stoul(argv[2]), argc > 3 ? std::stoul(argv[3]) : 7, model ? &*model : nullptr, true);
    }
    if (mode == "proposals" && argc > 2) {
        const auto model = modelFrom(argc, argv, 5);
        return proposals(std::stoul(argv[2]), argc > 3 ? argv[3] : "", argc > 4 ? std::stoul(argv[4]) : 7,
                         model ? &*model : nullptr);
    }
    if (mode == "stream" && argc > 2) {
        const auto model = modelFrom(argc, argv, 4);
        return indexed(std::stoul(argv[2]), argc > 3 ? std::stoul(argv[3]) : 7, model ? &*model : nullptr, false);
    }
    if (mode == "real-hashes" && argc > 3) return realHashes(argv[2], argv[3], argc > 4 ? std::stoi(argv[4]) : 40);
    if (mode == "fit" && argc > 3) return fit(argv[2], argv[3]);
    if (mode == "cache" && argc > 2) return cache(argv[2]);
    if (mode == "distances" && argc > 2) return distances(argv[2]);
    if (mode == "pairs" && argc > 2) return pairs(std::vector<std::string>(argv + 2, argv + argc));
    if (mode == "check" && argc > 2) return check(argv[2]);
    std::fputs("usage: similarity-bench scale N [SEED] [MODEL|uniform] | stream N [SEED] [MODEL|uniform] | proposals N [wide|popcount|portable] [SEED] "
               "[MODEL|uniform] | real-hashes LIST OUT [CROPS] | fit HASHES MODEL | cache FOLDER | distances FOLDER | "
               "pairs FOLDER | check FOLDER\n",
               stderr);
    return 2;
}
