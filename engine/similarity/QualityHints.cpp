#include "QualityHints.h"

#include "FaceCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vp::QualityHints {

namespace {

struct Measured {
    const PhotoAsset* member;
    ImageFeatures features;
};

std::string formatted(const char* format, double value) {
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool judgesLookAlikes(const DuplicateGroup& group) {
    return group.kind != MatchKind::identical && group.members.size() >= 2;
}

} // namespace

std::map<std::string, std::string> hints(const DuplicateGroup& group, const SimilarityIndex& index) {
    std::map<std::string, std::string> result;
    if (group.members.size() == 1) return result;
    std::vector<Measured> measured;
    for (const auto& member : group.members) {
        auto features = index.featuresFor(member);
        if (!features) return result;
        measured.push_back({&member, std::move(*features)});
    }
    if (measured.empty()) return result;

    std::stable_sort(measured.begin(), measured.end(), [](const Measured& a, const Measured& b) {
        return a.features.sharpness > b.features.sharpness;
    });
    const double sharpest = measured[0].features.sharpness, next = measured[1].features.sharpness;
    if (next > 0 && sharpest >= sharpnessMargin * next)
        result[measured[0].member->path] =
            formatted("Sharpest of the group (%.1f\u00d7 the next by edge contrast)", sharpest / next);

    std::vector<double> lumas;
    for (const auto& entry : measured) lumas.push_back(entry.features.meanLuma);
    std::sort(lumas.begin(), lumas.end());
    const double typical = lumas[lumas.size() / 2];
    for (const auto& entry : measured) {
        if (result.contains(entry.member->path)) continue;
        const double luma = entry.features.meanLuma;
        if (std::abs(luma - 0.5) - std::abs(typical - 0.5) >= exposureMargin)
            result[entry.member->path] = luma < 0.5 ? "Darker than the others" : "Brighter than the others";
    }

    double lowestClipped = measured[0].features.clipped;
    for (const auto& entry : measured) lowestClipped = std::min(lowestClipped, entry.features.clipped);
    for (const auto& entry : measured) {
        if (result.contains(entry.member->path)) continue;
        if (entry.features.clipped - lowestClipped >= clippedMargin)
            result[entry.member->path] = formatted("%.0f%% of it is pure black or white", entry.features.clipped * 100);
    }
    return result;
}

std::map<std::string, std::string> faceNotes(const DuplicateGroup& group, const SimilarityIndex& index) {
    if (!judgesLookAlikes(group)) return {};
    std::map<std::string, std::optional<FaceReading>> readings;
    for (const auto& member : group.members) {
        const auto features = index.featuresFor(member);
        readings[member.path] = features ? features->faces : std::nullopt;
    }
    return FaceCheck::notes(readings);
}

std::map<std::string, std::int64_t> scores(const DuplicateGroup& group, const SimilarityIndex& index) {
    if (!judgesLookAlikes(group)) return {};
    std::map<std::string, std::int64_t> result;
    for (const auto& member : group.members) {
        const auto features = index.featuresFor(member);
        if (!features || !features->qualityScore) return {};
        result[member.path] = *features->qualityScore;
    }
    return result;
}

} // namespace vp::QualityHints
