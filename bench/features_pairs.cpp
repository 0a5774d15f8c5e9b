// Prints, for every pair of pictures in a list, what the comparisons see: the hash and detail
// distances, and how their feature prints match. For studying where versions of one photo and
// different photos fall; features_pairs.sh runs it on the shared photo set with its truth.
//
//   features-pairs LISTFILE > pairs.tsv
//   columns: i j hash detail matches inliers overlap turn scale angleError residual secondInliers
//            secondShift changed (-1 when not measured)
//            verdict (0 undecided, 1 one photo, 2 different shots)

#include "engine/similarity/FeatureExtractor.h"
#include "engine/similarity/FeatureNeighbours.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace vp;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: features-pairs LISTFILE\n");
        return 2;
    }
    std::vector<std::string> paths;
    std::ifstream list(argv[1]);
    for (std::string line; std::getline(list, line);)
        if (!line.empty()) paths.push_back(line);

    std::vector<std::optional<ImageFeatures>> features(paths.size());
    std::vector<std::optional<FeaturePrintObservation>> prints(paths.size());
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < 2; ++t)
        workers.emplace_back([&, t] {
            for (std::size_t i = t; i < paths.size(); i += 2) {
                features[i] = FeatureExtractor::features(paths[i], WithFeaturePrint::yes);
                if (features[i] && features[i]->featurePrint)
                    prints[i] = FeatureExtractor::observation(*features[i]->featurePrint);
            }
        });
    for (auto& worker : workers) worker.join();

    if (std::getenv("NEIGHBOURS")) { // only the pairs the feature neighbours propose
        for (const auto& [i, j] : FeatureNeighbours::proposals(features, nullptr)) std::printf("%u\t%u\n", i, j);
        return 0;
    }
    for (std::size_t i = 0; i < paths.size(); ++i)
        std::fprintf(stderr, "%zu\t%s\t%zu\n", i, paths[i].c_str(), prints[i] ? prints[i]->points.size() : 0);
    for (std::size_t i = 0; i < paths.size(); ++i)
        for (std::size_t j = i + 1; j < paths.size(); ++j) {
            if (!features[i] || !features[j]) continue;
            const auto hash = FeatureExtractor::hashMatch(*features[i], *features[j]);
            const int detail = FeatureExtractor::detailDistance(*features[i], *features[j]);
            PrintMatch match;
            if (prints[i] && prints[j]) match = FeatureExtractor::matchPrints(*prints[i], *prints[j]);
            std::printf("%zu\t%zu\t%d\t%d\t%d\t%d\t%d\t%d\t%.3f\t%.2f\t%.3f\t%d\t%.2f\t%.3f\t%d\n", i, j, hash.distance,
                        detail, match.matches, match.inliers, match.overlapCorners, match.turn, match.scale,
                        match.angleError, match.residual, match.secondInliers, match.secondShift,
                        match.changed.value_or(-1), static_cast<int>(FeatureExtractor::verdict(match)));
        }
}
