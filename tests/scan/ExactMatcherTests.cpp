#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "engine/scan/ExactMatcher.h"

#include "tests/support/TempDir.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace vp {
namespace {

using Inspection = FolderSource::Inspection;

// The files here are plain bytes, not pictures: these checks let content matching be tested
// on its own. Decoding has its own tests.
ExactMatcher::PictureChecks allReadable() {
    ExactMatcher::PictureChecks checks;
    checks.inspect = [](const std::string&, PhotoFormat) { return Inspection{Inspection::Outcome::readable, 4, 3}; };
    checks.decodesFully = [](const std::string&) { return true; };
    return checks;
}

std::string bytes(std::size_t size, char fill, std::size_t differentAt = std::string::npos) {
    std::string content(size, fill);
    if (differentAt != std::string::npos) content[differentAt] = static_cast<char>(fill + 1);
    return content;
}

class ExactMatching : public ::testing::Test {
protected:
    testing::TempDir dir;
    std::string base = *PathRules::real(dir.path());
    CancellationFlag cancel;
    ExactMatcher::PictureChecks checks = allReadable();
    ExactMatcher::ScanHooks hooks;
    std::vector<ScanProgress> reports;

    ScanResult scan(bool keepPictures = false) {
        return ExactMatcher::scan({base}, keepPictures, std::nullopt, {}, cancel,
                                  [&](const ScanProgress& progress) { reports.push_back(progress); }, checks, hooks);
    }
    std::string path(const std::string& relative) const { return base + "/" + relative; }
};

std::vector<std::string> memberPaths(const DuplicateGroup& group) {
    std::vector<std::string> paths;
    for (const auto& member : group.members) paths.push_back(member.path);
    return paths;
}

TEST_F(ExactMatching, TwoCopiesOfASmallFileFormOneGroupNamedByTheirDigest) {
    dir.write("x/one.jpg", "0123456789");
    dir.write("y/two.jpg", "0123456789");
    dir.write("z/other.jpg", "9876543210");
    const auto result = scan();
    ASSERT_EQ(result.groups.size(), 1u);
    EXPECT_EQ(result.groups[0].id, "84d89877f0d4041efb6bf91a16f0248f2fd573e6af05c19f96bedb9f882f7882");
    EXPECT_EQ(result.groups[0].size, 10);
    EXPECT_EQ(result.groups[0].kind, MatchKind::identical);
    EXPECT_EQ(memberPaths(result.groups[0]), (std::vector<std::string>{path("x/one.jpg"), path("y/two.jpg")}));
    EXPECT_EQ(result.examined, 3);
    EXPECT_EQ(result.matched(), 2);
    EXPECT_TRUE(result.pictures.empty());
}

TEST_F(ExactMatching, EachStageRulesOutWhatItShould) {
    const std::size_t size = 3 * ExactMatcher::prefixBytes;
    dir.write("prefix/a.dng", bytes(size, 'a', size - 1)); // same first 64 KiB, different last byte
    dir.write("prefix/b.dng", bytes(size, 'a'));
    dir.write("first/a.dng", bytes(size, 'b', 0));         // same size, different first byte
    dir.write("first/b.dng", bytes(size, 'b'));
    dir.write("unique.dng", bytes(size + 1, 'c'));         // a size nobody shares
    std::set<std::string> read;
    std::mutex readLock;
    hooks.afterRead = [&](const std::string& file) {
        std::lock_guard lock(readLock);
        read.insert(file);
    };
    const auto result = scan();
    EXPECT_TRUE(result.groups.empty());
    EXPECT_FALSE(read.contains(path("unique.dng")));
}

TEST_F(ExactMatching, MembersAreInPathOrderAndGroupsBySpareBytes) {
    for (const char* folder : {"b", "a", "c"}) dir.write(std::string(folder) + "/small.png", bytes(1000000, 's'));
    for (const char* folder : {"b", "a"}) dir.write(std::string(folder) + "/large.png", bytes(1500000, 'l'));
    const auto result = scan();
    ASSERT_EQ(result.groups.size(), 2u);
    EXPECT_EQ(memberPaths(result.groups[0]),
              (std::vector<std::string>{path("a/small.png"), path("b/small.png"), path("c/small.png")}));
    EXPECT_EQ(result.groups[1].size, 1500000);
}

class ExactMatchingChanges : public ExactMatching, public ::testing::WithParamInterface<int> {};

// A copy edited at any point after the walk is never grouped, and the others still are.
TEST_P(ExactMatchingChanges, ChangedCopyIsLeftOutAndTheRestStillGroup) {
    const std::string content = bytes(2 * ExactMatcher::prefixBytes, 'm');
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) dir.write(name, content);
    const auto edit = [&] { std::ofstream(path("a.jpg"), std::ios::app) << "edited"; };
    switch (GetParam()) {
    case 0: hooks.afterInspection = edit; break;
    case 1: hooks.afterPrefixDigests = edit; break;
    case 2: hooks.afterFullDigests = edit; break; // the first member of the group: confirmation must re-anchor
    }
    const auto result = scan(true);
    ASSERT_EQ(result.groups.size(), 1u);
    EXPECT_EQ(memberPaths(result.groups[0]), (std::vector<std::string>{path("b.jpg"), path("c.jpg")}));
    EXPECT_EQ(result.skipped, (std::vector<SkippedFile>{{path("a.jpg"), SkipReason::changedDuringScan, std::nullopt}}));
    EXPECT_EQ(result.pictures.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Stages, ExactMatchingChanges, ::testing::Values(0, 1, 2));

class ExactMatchingCancellation : public ExactMatching, public ::testing::WithParamInterface<int> {};

TEST_P(ExactMatchingCancellation, ReturnsNoGroups) {
    for (int i = 0; i < 3; ++i) dir.write("copy" + std::to_string(i) + ".jpg", bytes(3 << 20, 'k'));
    const auto stop = [&] { cancel.cancel(); };
    switch (GetParam()) {
    case 0: cancel.cancel(); break;
    case 1: hooks.afterInspection = stop; break;
    case 2: hooks.afterPrefixDigests = stop; break;
    case 3: hooks.afterFullDigests = stop; break;
    case 4: hooks.afterRead = [&](const std::string&) { cancel.cancel(); }; break;
    }
    const auto result = scan(true);
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(result.groups.empty());
    EXPECT_TRUE(result.pictures.empty());
    for (const auto& file : result.skipped) EXPECT_NE(file.reason, SkipReason::changedDuringScan);
}

INSTANTIATE_TEST_SUITE_P(Stages, ExactMatchingCancellation, ::testing::Values(0, 1, 2, 3, 4));

TEST_F(ExactMatching, InspectionOutcomesDecideWhatIsCompared) {
    dir.write("raw/a.nef", "same raw bytes");
    dir.write("raw/b.nef", "same raw bytes");
    dir.write("heic/a.heic", "same heic");
    dir.write("heic/b.heic", "same heic");
    dir.write("bad/a.jpg", "same damaged");
    dir.write("bad/b.jpg", "same damaged");
    checks.inspect = [](const std::string& file, PhotoFormat format) {
        if (format == PhotoFormat::raw) return Inspection{Inspection::Outcome::cameraNotSupported, 6000, 4000};
        if (format == PhotoFormat::heic) return Inspection{Inspection::Outcome::notDecodableHere, {}, {}};
        return Inspection{file.ends_with("b.jpg") ? Inspection::Outcome::damaged : Inspection::Outcome::readable, {}, {}};
    };
    std::vector<std::string> decoded;
    checks.decodesFully = [&](const std::string& file) {
        decoded.push_back(file);
        return true;
    };
    const auto result = scan(true);
    ASSERT_EQ(result.groups.size(), 1u);
    EXPECT_EQ(memberPaths(result.groups[0]), (std::vector<std::string>{path("raw/a.nef"), path("raw/b.nef")}));
    EXPECT_FALSE(result.groups[0].members[0].rendersHere);
    EXPECT_EQ(result.groups[0].members[0].pixelWidth, 6000);
    EXPECT_TRUE(decoded.empty()); // a RAW that cannot be drawn is not decoded
    EXPECT_EQ(result.skipped,
              (std::vector<SkippedFile>{{path("bad/b.jpg"), SkipReason::corrupt, std::nullopt},
                                        {path("heic/a.heic"), SkipReason::unsupportedFormat, "This computer cannot decode HEIC"},
                                        {path("heic/b.heic"), SkipReason::unsupportedFormat, "This computer cannot decode HEIC"}}));
    EXPECT_EQ(result.examined, 3);
    EXPECT_EQ(result.pictures.size(), 3u);
}

TEST_F(ExactMatching, AGroupThatDoesNotDecodeFullyIsDroppedWithReasons) {
    dir.write("a.dng", "cut off raw");
    dir.write("b.dng", "cut off raw");
    dir.write("a.jpg", "cut off jpeg");
    dir.write("b.jpg", "cut off jpeg");
    checks.decodesFully = [](const std::string&) { return false; };
    const auto result = scan();
    EXPECT_TRUE(result.groups.empty());
    EXPECT_EQ(result.skipped,
              (std::vector<SkippedFile>{
                  {path("a.dng"), SkipReason::unsupportedFormat, "This computer cannot render this camera's RAW"},
                  {path("b.dng"), SkipReason::unsupportedFormat, "This computer cannot render this camera's RAW"},
                  {path("a.jpg"), SkipReason::corrupt, std::nullopt},
                  {path("b.jpg"), SkipReason::corrupt, std::nullopt}}));
}

TEST_F(ExactMatching, AnUnreadableCopyIsReportedAndTheOthersGroup) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) dir.write(name, "identical");
    // The unprivileged user must own the file to take its own read permission away.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path("b.jpg").c_str(), 65534, 65534), 0);
    }
    const int status = testing::runAsUnprivilegedUser([&] {
        // Readable when walked, refused when its contents are read.
        hooks.afterInspection = [&] { ::chmod(path("b.jpg").c_str(), 0); };
        const auto result = scan();
        const bool grouped = result.groups.size() == 1 &&
                             memberPaths(result.groups[0]) == std::vector<std::string>{path("a.jpg"), path("c.jpg")};
        if (!grouped) return 1;
        return result.skipped == std::vector<SkippedFile>{{path("b.jpg"), SkipReason::unreadable, "Permission denied"}}
                   ? 0
                   : 2;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(ExactMatching, PicturesCarryTheirFolderFacts) {
    dir.write("DSC_1.JPG", "pair");
    dir.write("DSC_1.CR2", "raw half");
    dir.write("copy/DSC_1.JPG", "pair");
    const auto result = scan(true);
    ASSERT_EQ(result.pictures.size(), 3u);
    EXPECT_EQ(result.pictures[0].path, path("DSC_1.CR2"));
    EXPECT_EQ(result.pictures[0].relationships, std::vector<Relationship>{Relationship::rawPair});
    EXPECT_EQ(result.pictures[1].relationships, std::vector<Relationship>{Relationship::rawPair});
    EXPECT_TRUE(result.pictures[2].relationships.empty());
    EXPECT_EQ(result.pictures[0].root, base);
    EXPECT_TRUE(result.pictures[0].volumeName.has_value());
    ASSERT_EQ(result.groups.size(), 1u);
    EXPECT_EQ(result.groups[0].members[0], result.pictures[1]);
}

TEST_F(ExactMatching, ProgressFollowsTheStages) {
    dir.write("a.jpg", "same");
    dir.write("b.jpg", "same");
    scan();
    using S = ScanProgress::Stage;
    std::vector<S> stages;
    for (const auto& report : reports)
        if (stages.empty() || stages.back() != report.stage) stages.push_back(report.stage);
    EXPECT_EQ(stages, (std::vector<S>{S::preparing, S::discovering, S::reading, S::comparing, S::verifying, S::finishing}));
    EXPECT_EQ(reports.back().matched, 2);
    EXPECT_EQ(reports.back().examined, 2);
    EXPECT_EQ(rawValue(S::verifying), "Confirming matches byte by byte");
}

TEST(ParallelMap, KeepsInputOrderAndUsesAtMostFourWorkers) {
    std::vector<int> items(200);
    for (int i = 0; i < 200; ++i) items[i] = i;
    std::atomic<int> running{0}, most{0};
    const auto results = ExactMatcher::parallelMap(items, nullptr, [&](int item) {
        const int now = ++running;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();
        --running;
        return item * 2;
    });
    ASSERT_EQ(results.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(results[i], i * 2);
    EXPECT_LE(most.load(), 4);

    CancellationFlag cancel;
    cancel.cancel();
    const auto none = ExactMatcher::parallelMap(items, &cancel, [](int item) { return item; });
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](const auto& result) { return !result; }));
    EXPECT_TRUE(ExactMatcher::parallelMap(std::vector<int>{}, nullptr, [](int item) { return item; }).empty());
}

TEST(CloudSync, KnownFoldersAreSynchronised) {
    EXPECT_TRUE(ExactMatcher::isCloudSynced("/home/a/Library/Mobile Documents/x"));
    EXPECT_TRUE(ExactMatcher::isCloudSynced("/Users/a/Library/CloudStorage/Drive/x"));
    EXPECT_FALSE(ExactMatcher::isCloudSynced("/home/a/Pictures"));
}

} // namespace
} // namespace vp
