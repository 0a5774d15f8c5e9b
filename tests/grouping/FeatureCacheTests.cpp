#include "GroupingFixtures.h"

#include "engine/similarity/FeatureCache.h"
#include "engine/similarity/FeatureExtractor.h"
#include "engine/similarity/FaceCheck.h"
#include "engine/similarity/QualityScore.h"

#include "tests/support/Deadline.h"
#include "tests/support/TempDir.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vp {
namespace {

using testing::measured;
using testing::picture;

/// The bytes of a feature print of this revision: a header (a 64 × 48 rendition, one corner),
/// the corner's position and descriptor, and a glance of two pixels.
std::vector<std::uint8_t> soundPrint() {
    std::vector<std::uint8_t> bytes{'V', 'P', 'F', static_cast<std::uint8_t>(FeatureExtractor::featurePrintRevision),
                                    64, 0, 48, 0, 1, 0};
    bytes.resize(bytes.size() + 36, 17);
    bytes.insert(bytes.end(), {2, 0, 1, 0, 90, 200});
    return bytes;
}

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
    full.detailHashes = {{1, 2, 3, ~0ULL}, {5, 6, 7, 8}, {0, 0, 0, 0}, {9, 10, 11, 12}};
    full.featurePrint = soundPrint();
    full.featurePrintRevision = FeatureExtractor::featurePrintRevision;
    full.sharpness = 0.03125;
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

// An entry is used only when every field has the shape and range a measurement gives: a short
// hash list once made unrelated pictures "similar", and they went to the Trash.
TEST(FeatureCache, AnEntryWithAnyFieldOutOfShapeIsMeasuredAgain) {
    testing::TempDir dir;
    const std::string path = dir / "features.plist";
    ImageFeatures sound = measured({1, 2, 3, 4}, 5.0);
    sound.qualityScore = 50;
    sound.qualityRevision = QualityScore::revision;
    sound.faces = FaceReading{2, 1, 0, FaceCheck::revision};
    const std::vector<std::pair<const char*, std::function<void(ImageFeatures&)>>> damages = {
        {"one hash", [](ImageFeatures& f) { f.hashes = {0}; }},
        {"five hashes", [](ImageFeatures& f) { f.hashes.push_back(0); }},
        {"no detail hashes", [](ImageFeatures& f) { f.detailHashes.clear(); }},
        {"a short detail hash", [](ImageFeatures& f) { f.detailHashes[2] = {1}; }},
        {"a torn feature print", [](ImageFeatures& f) { f.featurePrint = std::vector<std::uint8_t>{'V', 'P'}; }},
        {"sharpness not a number", [](ImageFeatures& f) { f.sharpness = std::nan(""); }},
        {"sharpness infinite", [](ImageFeatures& f) { f.sharpness = INFINITY; }},
        {"brightness above 1", [](ImageFeatures& f) { f.meanLuma = 1.5; }},
        {"clipping below 0", [](ImageFeatures& f) { f.clipped = -0.5; }},
        {"negative width", [](ImageFeatures& f) { f.pixelWidth = -1; }},
        {"absurd height", [](ImageFeatures& f) { f.pixelHeight = std::int64_t{1} << 40; }},
        {"quality above 100", [](ImageFeatures& f) { f.qualityScore = 101; }},
        {"more eyes closed than faces", [](ImageFeatures& f) { f.faces->eyesClosed = 3; }},
        {"negative smiles", [](ImageFeatures& f) { f.faces->smiling = -1; }},
        {"negative revision", [](ImageFeatures& f) { f.featurePrintRevision = -7; }},
    };
    for (const auto& [name, damage] : damages) {
        ImageFeatures broken = sound;
        damage(broken);
        testing::writeFile(path, FeatureCacheFile::encode({{FeatureCache::key(picture("/sound").snapshot), sound},
                                                           {FeatureCache::key(picture("/broken").snapshot), broken}}));
        FeatureCache cache(path);
        EXPECT_EQ(cache.lookup(picture("/sound")), sound) << name;
        EXPECT_FALSE(cache.lookup(picture("/broken"))) << name;
    }
}

// A property-list date holds 32-bit seconds from 2001; a scanned photo dated 1920 must not come
// back as a date in 2056.
TEST(FeatureCache, ACaptureDateTheFileCannotHoldIsLeftOutNotChanged) {
    ImageFeatures scanned = measured(1);
    scanned.captureDate = *parseIso8601("1920-05-01T12:00:00Z");
    ImageFeatures early = measured(2);
    early.captureDate = *parseIso8601("1990-05-01T12:00:00Z");
    const auto read = FeatureCacheFile::decode(FeatureCacheFile::encode({{"1:1:1:1.0", scanned}, {"2:2:2:2.0", early}}));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_FALSE(read.at("1:1:1:1.0").captureDate);
    EXPECT_EQ(read.at("2:2:2:2.0"), early);
}

// libplist aborts the process when it hands out a dictionary key holding a NUL character.
TEST(FeatureCache, AFileWithANulInAKeyCountsAsNoCacheInsteadOfAborting) {
    std::string data = FeatureCacheFile::encode({{"12:34:5:6.7", measured(1)}, {"8:9:10:11.12", measured(2)}});
    ASSERT_EQ(FeatureCacheFile::decode(data).size(), 2u);
    const auto key = data.find("12:34");
    ASSERT_NE(key, std::string::npos);
    data[key + 1] = '\0';
    EXPECT_TRUE(FeatureCacheFile::decode(data).empty());
}

TEST(FeatureCache, AFifoOrADeviceInPlaceOfTheFileCountsAsNoCache) {
    testing::TempDir dir;
    const std::string fifo = dir / "features.plist";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = dir / "zero.plist";
    ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
    for (const auto& path : {fifo, zero}) {
        const int status = testing::runWithin(10, [&] { return FeatureCache(path).count() == 0 ? 0 : 1; });
        EXPECT_EQ(status, 0) << path << (status == 124 ? " hung" : "");
    }
}

} // namespace
} // namespace vp
