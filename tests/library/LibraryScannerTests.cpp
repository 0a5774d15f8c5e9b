#include "LibraryScene.h"

#include "engine/common/Digest.h"
#include "engine/library/LibraryScanner.h"
#include "engine/library/LibrarySource.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

using testing::day;
using testing::elsewhere;
using testing::photo;

struct Scan {
    ScanResult result;
    std::vector<ScanProgress> reports;
};

Scan scanOf(const MemoryLibrary& library, DownloadBudget* budget = nullptr, LibraryHashCache* cache = nullptr,
            bool keepPictures = false) {
    Scan scan;
    CancellationFlag cancel;
    std::mutex mutex;
    scan.result = LibraryScanner::scan(library, keepPictures, budget, cache, cancel, [&](const ScanProgress& p) {
        std::lock_guard lock(mutex);
        scan.reports.push_back(p);
    });
    return scan;
}

std::vector<std::string> pathsOf(const DuplicateGroup& group) {
    std::vector<std::string> paths;
    for (const auto& member : group.members) paths.push_back(member.path);
    return paths;
}

TEST(LibrarySource, FnvAndVirtualPathsFollowTheirPublishedRules) {
    // Published FNV-1a 64 test vectors.
    EXPECT_EQ(LibrarySource::fnv(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(LibrarySource::fnv("a"), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(LibrarySource::path("thumb01"), "photos-library:thumb01");
    EXPECT_EQ(LibrarySource::id("photos-library:A/B"), "A/B");
    EXPECT_FALSE(LibrarySource::id("/photos-library:A"));
}

TEST(LibrarySource, IdentityFollowsTheChangeDateToTheMillisecondWhileTheTimeShownIsTheCreation) {
    const auto asset = LibrarySource::asset({.id = "A", .filename = "a.jpg", .uti = "public.heic", .pixelWidth = 4,
                                             .pixelHeight = 3, .created = day(2), .modified = day(3)},
                                            10);
    EXPECT_EQ(asset.snapshot.modified(), day(2));
    EXPECT_EQ(asset.format, PhotoFormat::heic);
    EXPECT_EQ(asset.snapshot.identity.device, ~std::uint64_t{0});
    EXPECT_EQ(asset.library->filename, "a.jpg");

    const auto at = [](Timestamp modified) { return LibrarySource::snapshot("A", day(2), modified, 10).identity; };
    EXPECT_EQ(at(day(3)), asset.snapshot.identity);
    EXPECT_EQ(at(day(3) + std::chrono::microseconds(400)), asset.snapshot.identity);
    EXPECT_NE(at(day(3) + std::chrono::milliseconds(1)), asset.snapshot.identity);
    // Without any date the picture is shown at 1970 and still has a stable identity.
    EXPECT_EQ(LibrarySource::snapshot("A", std::nullopt, std::nullopt, 0).modifiedSeconds, 0);
}

TEST(LibraryScanner, PhotosOfDifferentSizesAreNeverRead) {
    MemoryLibrary library({photo("A", "same", 1, 100), photo("B", "same", 2, 200), photo("C", "same", 3, 300)});
    MemoryItem video = photo("V", "movie");
    video.kind = MemoryItem::Kind::video;
    library.add(video);
    auto hidden = photo("H", "same", 4, 100);
    hidden.isHidden = true;
    library.add(hidden);

    const auto scan = scanOf(library);
    EXPECT_EQ(library.dataRequests(), 0);
    EXPECT_TRUE(scan.result.groups.empty());
    EXPECT_EQ(scan.result.discovered, 4);
    EXPECT_EQ(scan.result.otherFiles, 1);
    EXPECT_EQ(scan.result.examined, 3);
    EXPECT_EQ(scan.reports.front().stage, ScanProgress::Stage::discovering);
}

TEST(LibraryScanner, CopiesAreGroupedByEveryResourceWithItsType) {
    auto original = photo("A", "pixels", 3);
    auto renamed = photo("B", "pixels", 1);
    renamed.resources[0].filename = "other name.jpg";
    // Same bytes stored as an edited rendition rather than as the photo: not the same item.
    auto edited = photo("C", "pixels", 2);
    edited.resources[0].type = ResourceType::fullSizePhoto;
    // A RAW + JPEG pair is a copy only of another pair with both files the same.
    auto pair = photo("D", "jpeg", 4);
    pair.resources.push_back({ResourceType::alternatePhoto, "D.cr2", "raw", "com.canon.cr2-raw-image", true});
    auto pairCopy = pair;
    pairCopy.id = "E";
    auto jpegOnly = photo("F", "jpeg", 5);
    MemoryLibrary library({original, renamed, edited, pair, pairCopy, jpegOnly});

    const auto scan = scanOf(library);
    ASSERT_EQ(scan.result.groups.size(), 2U);
    const auto& copies = scan.result.groups[0];
    EXPECT_EQ(pathsOf(copies), (std::vector<std::string>{"photos-library:B", "photos-library:A"})); // oldest first
    EXPECT_EQ(copies.id, sha256Hex("1|pixels"));
    EXPECT_EQ(copies.size, 6);
    EXPECT_EQ(copies.members[0].snapshot.size, 6);
    EXPECT_EQ(copies.members[0].library->filename, "other name.jpg");
    EXPECT_EQ(pathsOf(scan.result.groups[1]), (std::vector<std::string>{"photos-library:D", "photos-library:E"}));
    EXPECT_EQ(scan.result.groups[1].id, sha256Hex("1|jpeg4|raw"));
    EXPECT_TRUE(scan.result.groups[1].members[0].library->hasRAWPair);
}

TEST(LibraryScanner, WithoutABudgetDataStoredElsewhereIsListedAndNotFetched) {
    MemoryLibrary library({photo("A", "pixels", 1), elsewhere(photo("B", "pixels", 2))});
    const auto scan = scanOf(library);
    EXPECT_TRUE(scan.result.groups.empty());
    ASSERT_EQ(scan.result.skipped.size(), 1U);
    EXPECT_EQ(scan.result.skipped[0].path, "photos-library:B");
    EXPECT_EQ(scan.result.skipped[0].reason, SkipReason::cloudPlaceholder);
    EXPECT_EQ(scan.result.skipped[0].detail, "B.jpg: in the cloud, not on this computer");
    EXPECT_TRUE(scan.result.isIncomplete());
}

TEST(LibraryScanner, ABudgetIsSpentFirstWhereAPairIsLikely) {
    // C and D only pair with each other; B pairs with the local A, so B is fetched first.
    const std::string bytes(1000, 'p');
    MemoryLibrary library({elsewhere(photo("C", std::string(1000, 'q'), 1, 900)),
                           elsewhere(photo("D", std::string(1000, 'q'), 2, 900)), photo("A", bytes, 3),
                           elsewhere(photo("B", bytes, 4))},
                          100);
    const auto listed = library.items(CancellationFlag{}).photos;
    const std::vector<LibraryHash> firstPass{LibraryHash::notLocal(), LibraryHash::notLocal(),
                                             LibraryHash::hashed("a", 1000), LibraryHash::notLocal()};
    EXPECT_EQ(LibraryScanner::downloadOrder(listed, firstPass), (std::vector<std::size_t>{3, 0, 1}));

    DownloadBudget budget(3000);
    const auto scan = scanOf(library, &budget);
    ASSERT_EQ(scan.result.groups.size(), 2U);
    EXPECT_EQ(pathsOf(scan.result.groups[0]), (std::vector<std::string>{"photos-library:A", "photos-library:B"}));
    EXPECT_EQ(scan.result.downloadedBytes, 3000);
    EXPECT_TRUE(scan.result.skipped.empty());
    const bool reportedDownload = std::any_of(scan.reports.begin(), scan.reports.end(), [](const ScanProgress& p) {
        return p.stage == ScanProgress::Stage::downloading && p.downloadLimit == 3000 && p.downloadedBytes > 0;
    });
    EXPECT_TRUE(reportedDownload);
}

TEST(LibraryScanner, ABudgetSmallerThanOneItemCutsItOffAndRequestsNothingMore) {
    const std::string bytes(1000, 'p');
    MemoryLibrary library({elsewhere(photo("A", bytes, 1)), elsewhere(photo("B", bytes, 2)), elsewhere(photo("C", bytes, 3))},
                          300);
    DownloadBudget budget(500);
    const auto scan = scanOf(library, &budget);
    EXPECT_EQ(scan.result.downloadedBytes, 600); // the chunk that crossed the limit is counted
    ASSERT_EQ(scan.result.skipped.size(), 3U);
    for (const auto& skipped : scan.result.skipped)
        EXPECT_EQ(skipped.detail, skipped.path.substr(15) + ".jpg: in the cloud; not reached before the download limit or a stop");

    // Once the budget is used up, nothing more is even asked for.
    const auto requests = library.dataRequests();
    DownloadBudget usedUp(0);
    scanOf(library, &usedUp);
    EXPECT_EQ(library.dataRequests(), requests + 3); // the first pass only

    DownloadBudget spent(10);
    EXPECT_TRUE(spent.take(10));
    EXPECT_FALSE(spent.take(1));
    EXPECT_EQ(spent.used(), 10);
}

TEST(LibraryScanner, ASecondScanReadsOnlyWhatChanged) {
    MemoryLibrary library({photo("A", "pixels", 1), photo("B", "pixels", 2), elsewhere(photo("C", "pixels", 3))});
    LibraryHashCache cache;
    const auto first = scanOf(library, nullptr, &cache);
    const auto requests = library.dataRequests();
    const auto second = scanOf(library, nullptr, &cache);
    EXPECT_EQ(library.dataRequests(), requests + 1); // only the item stored elsewhere, never cached
    EXPECT_EQ(first.result.groups, second.result.groups);

    library.setModified("A", day(9));
    scanOf(library, nullptr, &cache);
    EXPECT_EQ(library.dataRequests(), requests + 3);
    EXPECT_EQ(LibraryHashCache::key({.id = "X", .modified = day(1, 30)}), "X@1714521630.0");
    EXPECT_EQ(LibraryHashCache::key({.id = "X"}), "X@0.0");
}

TEST(LibraryScanner, ACancelledScanReadsNothingAndSaysSo) {
    MemoryLibrary library({photo("A", "pixels", 1), photo("B", "pixels", 2)});
    CancellationFlag cancel;
    cancel.cancel();
    const auto result = LibraryScanner::scan(library, true, nullptr, nullptr, cancel, {});
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(library.dataRequests(), 0);
    EXPECT_TRUE(result.groups.empty());
}

TEST(MemoryLibrary, ItemsWithoutDataAndStopsAreReportedAsSuch) {
    MemoryItem empty = photo("E", "");
    empty.resources.clear();
    MemoryLibrary library({empty, photo("A", std::string(10, 'a'))}, 4);
    const auto listed = library.items(CancellationFlag{}).photos;
    ASSERT_EQ(listed.size(), 2U);
    EXPECT_EQ(listed[0].filename, "Photo");
    EXPECT_FALSE(listed[0].uti);
    EXPECT_EQ(library.hash("E", false, {}), LibraryHash::failed("Photos reported no data for it"));
    EXPECT_EQ(library.hash("gone", false, {}), LibraryHash::failed("No longer in the library"));
    std::int64_t seen = 0;
    EXPECT_EQ(library.hash("A", false, [&](std::int64_t bytes) { seen += bytes; return false; }), LibraryHash::stopped());
    EXPECT_EQ(seen, 4);
}

TEST(LibraryScanner, PreviewsAreMeasuredAndKeptPicturesCarryTheirReference) {
    testing::TempDir dir;
    const auto picture = dir / "look.png";
    testing::writePicture(picture, {.width = 300, .height = 200});
    auto item = photo("A", "pixels");
    item.picturePath = picture;
    MemoryLibrary library({item, photo("B", "other")});

    const auto scan = scanOf(library, nullptr, nullptr, true);
    ASSERT_EQ(scan.result.pictures.size(), 2U);
    const auto features = LibraryScanner::featureReader(library);
    EXPECT_TRUE(features(scan.result.pictures[0]));
    EXPECT_FALSE(features(scan.result.pictures[1])); // no preview to measure
    PhotoAsset file;
    file.path = picture;
    EXPECT_FALSE(features(file)); // not a library picture
    EXPECT_FALSE(LibraryScanner::faceReader(library)(scan.result.pictures[1]));
}

} // namespace
} // namespace vp
