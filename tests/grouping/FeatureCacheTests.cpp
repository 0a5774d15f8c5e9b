#include "GroupingFixtures.h"

#include "engine/similarity/FeatureCache.h"
#include "engine/similarity/FeatureExtractor.h"
#include "engine/similarity/FaceCheck.h"
#include "engine/similarity/QualityScore.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

using testing::measured;
using testing::picture;

TEST(FeatureCache, KeyNamesTheFileAndItsVersion) {
    FileSnapshot snapshot;
    snapshot.identity = {1, 2};
    snapshot.size = 3;
    snapshot.modifiedSeconds = 4;
    snapshot.modifiedNanoseconds = 5;
    EXPECT_EQ(FeatureCache::key(snapshot), "1:2:3:4.5");
}

TEST(FeatureCache, RoundTripsEveryFieldThroughTheFile) {
    testing::TempDir dir;
    const std::string path = dir / "features.plist";
    ImageFeatures full = measured({~0ULL, 1, 2, 3}, 12.5);
    full.detailHashes = {{1, 2, 3, ~0ULL}, {5, 6, 7, 8}, {}, {9}};
    full.featurePrint = std::vector<std::uint8_t>{0, 1, 254, 255};
    full.featurePrintRevision = FeatureExtractor::featurePrintRevision;
    full.sharpness = 123.25;
    full.meanLuma = 0.5;
    full.clipped = 0.125;
    full.qualityScore = 64;
    full.isUtility = false;
    full.qualityRevision = QualityScore::revision;
    full.faces = FaceReading{3, 1, 2, FaceCheck::revision};
    ImageFeatures bare = measured(7);
    {
        FeatureCache cache(path);
        cache.store(picture("/a"), full);
        cache.store(picture("/b"), bare);
        cache.save();
    }
    FeatureCache reloaded(path);
    EXPECT_EQ(reloaded.lookup(picture("/a")), full);
    EXPECT_EQ(reloaded.lookup(picture("/b")), bare);
    EXPECT_FALSE(reloaded.lookup(picture("/c")));
}

TEST(FeatureCache, OutdatedEntriesAreNotUsed) {
    FeatureCache cache;
    ImageFeatures oldPipeline = measured(1);
    oldPipeline.version = 2;
    cache.store(picture("/old"), oldPipeline);
    ImageFeatures oldQuality = measured(1);
    oldQuality.qualityScore = 50;
    oldQuality.qualityRevision = QualityScore::revision + 1;
    cache.store(picture("/quality"), oldQuality);
    ImageFeatures oldFaces = measured(1);
    oldFaces.faces = FaceReading{1, 0, 0, 0};
    cache.store(picture("/faces"), oldFaces);

    EXPECT_FALSE(cache.lookup(picture("/old")));
    EXPECT_FALSE(cache.lookup(picture("/quality")));
    ASSERT_TRUE(cache.lookup(picture("/faces")));
    EXPECT_FALSE(cache.lookup(picture("/faces"))->faces); // the measurement stays, the reading goes
    EXPECT_FALSE(cache.faces(picture("/faces")));
}

TEST(FeatureCache, FacesAreStoredOnlyOnExistingEntries) {
    FeatureCache cache;
    cache.storeFaces(FaceReading{1, 0, 0, 1}, picture("/none"));
    EXPECT_EQ(cache.count(), 0u);
    cache.store(picture("/a"), measured(1));
    cache.storeFaces(FaceReading{1, 0, 0, 1}, picture("/a"));
    EXPECT_EQ(cache.faces(picture("/a")), (FaceReading{1, 0, 0, 1}));
}

TEST(FeatureCache, DamagedOrForeignFilesCountAsEmptyAndAreRewritten) {
    testing::TempDir dir;
    const std::string path = dir / "features.plist";
    FeatureCache good(path);
    good.store(picture("/a"), measured(1));
    good.save();
    const std::string valid = testing::readFile(path);

    for (const std::string& damaged : {valid.substr(0, valid.size() / 2), std::string("{\"json\": true}"),
                                       std::string(), std::string("bplist00garbage")}) {
        testing::writeFile(path, damaged);
        FeatureCache cache(path);
        EXPECT_EQ(cache.count(), 0u);
        cache.save(); // nothing changed: the file is left alone
        EXPECT_EQ(testing::readFile(path), damaged);
        cache.store(picture("/b"), measured(2));
        cache.save();
        EXPECT_EQ(FeatureCache(path).count(), 1u);
    }
}

} // namespace
} // namespace vp
