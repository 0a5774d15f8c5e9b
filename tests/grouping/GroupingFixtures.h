// Hand-built pictures and measurements for the grouping tests.
#pragma once

#include "engine/similarity/SimilarityIndex.h"

#include <chrono>
#include <string>

namespace vp::testing {

inline PhotoAsset picture(const std::string& path, std::int64_t size = 100) {
    PhotoAsset asset;
    asset.path = path;
    asset.root = "/";
    asset.snapshot.size = size;
    asset.snapshot.identity.inode = std::hash<std::string>{}(path);
    asset.snapshot.linkCount = 1;
    asset.snapshot.isRegularFile = true;
    asset.format = PhotoFormat::jpeg;
    return asset;
}

/// Measurements whose four turns are given; a picture 400 × 300 unless told otherwise.
inline ImageFeatures measured(std::array<std::uint64_t, 4> turns, std::optional<double> secondsSince2020 = std::nullopt,
                              std::int64_t width = 400, std::int64_t height = 300) {
    ImageFeatures features;
    features.hashes.assign(turns.begin(), turns.end());
    features.detailHashes.assign(4, std::vector<std::uint64_t>(4, 0));
    features.pixelWidth = width;
    features.pixelHeight = height;
    features.sharpness = 1;
    features.meanLuma = 0.5;
    if (secondsSince2020)
        features.captureDate = Timestamp(std::chrono::seconds(1577836800)) +
                               std::chrono::duration_cast<Timestamp::duration>(std::chrono::duration<double>(*secondsSince2020));
    return features;
}

inline ImageFeatures measured(std::uint64_t upright, std::optional<double> secondsSince2020 = std::nullopt) {
    return measured({upright, upright, upright, upright}, secondsSince2020);
}

inline SimilarPair pair(std::int64_t a, std::int64_t b, float distance, std::int64_t detail = 0, bool shapesAgree = true) {
    return {a, b, distance, detail, shapesAgree, std::nullopt};
}

} // namespace vp::testing
