#include "engine/scan/ScanResult.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

PhotoAsset asset(std::string path, std::int64_t size = 10) {
    PhotoAsset photo;
    photo.path = std::move(path);
    photo.root = "/r";
    photo.snapshot.size = size;
    photo.snapshot.linkCount = 1;
    photo.snapshot.isRegularFile = true;
    photo.format = PhotoFormat::jpeg;
    return photo;
}

TEST(PhotoFormat, FromExtension) {
    EXPECT_EQ(formatFromExtension("JPG"), PhotoFormat::jpeg);
    EXPECT_EQ(formatFromExtension("jpe"), PhotoFormat::jpeg);
    EXPECT_EQ(formatFromExtension("HEIF"), PhotoFormat::heic);
    EXPECT_EQ(formatFromExtension("tif"), PhotoFormat::tiff);
    EXPECT_EQ(formatFromExtension("DNG"), PhotoFormat::raw);
    EXPECT_EQ(formatFromExtension("3fr"), PhotoFormat::raw);
    EXPECT_EQ(formatFromExtension("gif"), std::nullopt);
    EXPECT_EQ(formatFromExtension(""), std::nullopt);
    EXPECT_EQ(formatFromExtension("other"), std::nullopt);
}

TEST(PhotoFormat, FromTypeIdentifier) {
    EXPECT_EQ(formatFromTypeIdentifier(std::nullopt), PhotoFormat::other);
    EXPECT_EQ(formatFromTypeIdentifier("public.heif"), PhotoFormat::heic);
    EXPECT_EQ(formatFromTypeIdentifier("com.canon.cr2-raw-image"), PhotoFormat::raw);
    EXPECT_EQ(formatFromTypeIdentifier("com.compuserve.gif"), PhotoFormat::other);
    EXPECT_EQ(allCases<PhotoFormat>().size(), 6u);
    EXPECT_EQ(name(PhotoFormat::heic), "HEIC");
}

TEST(FixedKeepReason, FollowsTheRuleOrder) {
    PhotoAsset photo = asset("/r/a.jpg");
    EXPECT_FALSE(photo.fixedKeepReason());

    photo.isReadOnlyVolume = true;
    EXPECT_EQ(photo.fixedKeepReason(), "On a volume this computer cannot change");

    photo.otherNames = {"/r/b.jpg"}; // link count stays 1: the folded name alone counts
    EXPECT_EQ(photo.fixedKeepReason(),
              "Has another name on disk (a hard link), so moving it to the Trash would free nothing");

    photo.relationships = {Relationship::sidecar, Relationship::livePhoto};
    EXPECT_EQ(photo.fixedKeepReason(), "Has a sidecar file (.xmp or .aae) beside it, so it is kept with it");

    photo.library = LibraryRef{"id", "IMG_1.JPG", true, false, false, false};
    EXPECT_EQ(photo.fixedKeepReason(), "A favourite in Photos, so it is kept");
}

TEST(FixedKeepReason, CatalogsHoldSidecarsAndPairsThemselves) {
    PhotoAsset photo = asset("/r/a.jpg");
    photo.relationships = {Relationship::sidecar};
    photo.captureOne = CaptureOneRef{};
    EXPECT_FALSE(photo.fixedKeepReason());
    photo.captureOne->variants = 2;
    EXPECT_EQ(photo.fixedKeepReason(),
              "Has a second variant in Capture One, which is another edit of this very file, so it is kept");

    PhotoAsset lightroom = asset("/r/b.cr2");
    lightroom.relationships = {Relationship::sidecar, Relationship::rawPair};
    lightroom.lightroom = LightroomRef{};
    lightroom.lightroom->sidecarExtensions = {"JPG"};
    EXPECT_FALSE(lightroom.fixedKeepReason());
    lightroom.lightroom->sidecarExtensions.clear();
    EXPECT_EQ(lightroom.fixedKeepReason(), "Has a RAW file with the same name, so it is kept with it");
}

TEST(PhotoAsset, NameAndFolderComeFromTheLibraryWhenPresent) {
    PhotoAsset photo = asset("/r/sub/a.jpg");
    EXPECT_EQ(photo.name(), "a.jpg");
    EXPECT_EQ(photo.folder(), "/r/sub");
    photo.library = LibraryRef{"id", "IMG_9.HEIC", false, false, false, false};
    EXPECT_EQ(photo.name(), "IMG_9.HEIC");
    EXPECT_EQ(photo.folder(), "Photos Library");
}

TEST(PhotoAsset, JsonAcceptsMissingOptionalsButNotMissingRendersHere) {
    PhotoAsset photo = asset("/r/a.jpg");
    photo.pixelWidth = 4032;
    photo.relationships = {Relationship::rawPair};
    Json json = encodeJson(photo);
    std::vector<std::string> keys;
    for (auto it = json.begin(); it != json.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"path", "root", "snapshot", "format", "pixelWidth", "otherNames",
                                              "relationships", "isCloudSynced", "isReadOnlyVolume",
                                              "isExternalVolume", "rendersHere"}));
    EXPECT_EQ(json["relationships"][0], "rawPair");
    EXPECT_EQ(decodeJson<PhotoAsset>(json).value(), photo);

    json.erase("rendersHere");
    EXPECT_NE(decodeJson<PhotoAsset>(json).error().find("rendersHere"), std::string::npos);

    Json badFormat = encodeJson(photo);
    badFormat["format"] = "gif";
    EXPECT_NE(decodeJson<PhotoAsset>(badFormat).error().find("format"), std::string::npos);
}

TEST(DuplicateGroup, ExtraBytesIsAllButTheLargestCopy) {
    DuplicateGroup group{"id", 10, {asset("/a", 10), asset("/b", 10)}, MatchKind::identical, std::nullopt};
    EXPECT_EQ(group.extraBytes(), 10);
    group.members = {asset("/a", 10), asset("/b", 30)};
    EXPECT_EQ(group.extraBytes(), 10);
    group.members.clear();
    EXPECT_EQ(group.extraBytes(), 0);
}

TEST(ScanResult, LinksAndLeftClosedFoldersAloneAreNotIncomplete) {
    ScanResult result;
    result.skipped = {{"/r/l.jpg", SkipReason::symbolicLink, std::nullopt}};
    result.excluded = {{"/r/x.app", ExcludedItem::Kind::package, "d"},
                       {"/r/y", ExcludedItem::Kind::overlappingRoot, "d"},
                       {"/r/z.photoslibrary", ExcludedItem::Kind::managedLibrary, "d"}};
    EXPECT_FALSE(result.isIncomplete());

    ScanResult unreadable = result;
    unreadable.skipped.push_back({"/r/u.jpg", SkipReason::unreadable, "Permission denied"});
    EXPECT_TRUE(unreadable.isIncomplete());

    ScanResult refused = result;
    refused.excluded.push_back({"/gone", ExcludedItem::Kind::refusedRoot, "Not found."});
    EXPECT_TRUE(refused.isIncomplete());

    ScanResult cancelled = result;
    cancelled.cancelled = true;
    EXPECT_TRUE(cancelled.isIncomplete());
}

TEST(ScanResult, RoundTripsThroughJson) {
    ScanResult result;
    result.started = *parseIso8601("2025-06-01T10:00:00Z");
    result.finished = *parseIso8601("2025-06-01T10:00:07Z");
    result.roots = {"/r"};
    result.groups = {{std::string(64, 'a'), 10, {asset("/r/a"), asset("/r/b")}, MatchKind::identical, std::nullopt},
                     {"s1", 20, {asset("/r/c"), asset("/r/d")}, MatchKind::similar, 0.25f}};
    result.skipped = {{"/r/e.gif", SkipReason::unsupportedFormat, "GIF"}};
    result.excluded = {{"/r/x.app", ExcludedItem::Kind::package, "A package is one thing, not a folder of photos."}};
    result.discovered = 5;
    const Json json = encodeJson(result);
    EXPECT_EQ(json["started"], "2025-06-01T10:00:00Z");
    EXPECT_FALSE(json["groups"][0].contains("spread"));
    EXPECT_EQ(decodeJson<ScanResult>(json).value(), result);
    EXPECT_EQ(result.matched(), 4);
}

} // namespace
} // namespace vp
