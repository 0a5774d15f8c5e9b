#include "engine/common/PathRules.h"
#include "engine/scan/FolderSource.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace vp {
namespace {

class FolderPrepare : public ::testing::Test {
protected:
    testing::TempDir dir;
    std::string base = *PathRules::real(dir.path());
};

TEST_F(FolderPrepare, ParentWinsOverAFolderInsideItWhateverTheOrder) {
    dir.folder("a/b");
    const auto prepared = FolderSource::prepare({base + "/a/b", base + "/a"});
    EXPECT_EQ(prepared.roots, std::vector<std::string>{base + "/a"});
    ASSERT_EQ(prepared.refused.size(), 1u);
    EXPECT_EQ(prepared.refused[0].kind, ExcludedItem::Kind::overlappingRoot);
    EXPECT_EQ(prepared.refused[0].path, base + "/a/b");
    EXPECT_EQ(prepared.refused[0].detail,
              "Inside " + base + "/a, which is already chosen, so it is scanned once as part of that.");
}

TEST_F(FolderPrepare, TheSameFolderTwiceIsScannedOnce) {
    dir.folder("a");
    const auto prepared = FolderSource::prepare({base + "/a", base + "/./a/"});
    EXPECT_EQ(prepared.roots, std::vector<std::string>{base + "/a"});
    ASSERT_EQ(prepared.refused.size(), 1u);
    EXPECT_EQ(prepared.refused[0].kind, ExcludedItem::Kind::overlappingRoot);
}

TEST_F(FolderPrepare, LinkedRootIsResolvedBeforeOverlapsAreFound) {
    dir.folder("a/b");
    ASSERT_EQ(::symlink((base + "/a/b").c_str(), (base + "/shortcut").c_str()), 0);
    const auto prepared = FolderSource::prepare({base + "/shortcut", base + "/a"});
    EXPECT_EQ(prepared.roots, std::vector<std::string>{base + "/a"});
    ASSERT_EQ(prepared.refused.size(), 1u);
    EXPECT_EQ(prepared.refused[0].path, base + "/a/b");
}

TEST_F(FolderPrepare, RefusalsCarryTheirSentences) {
    dir.write("file.jpg", "x");
    dir.folder("My.photoslibrary/originals");
    dir.folder("ok");
    const auto prepared = FolderSource::prepare(
        {base + "/missing", base + "/file.jpg", base + "/My.photoslibrary/originals", base + "/ok"});
    EXPECT_EQ(prepared.roots, std::vector<std::string>{base + "/ok"});
    ASSERT_EQ(prepared.refused.size(), 3u);
    EXPECT_EQ(prepared.refused[0].path, base + "/missing");
    EXPECT_EQ(prepared.refused[0].detail, "Not found. If it is on a drive, check the drive is connected.");
    EXPECT_EQ(prepared.refused[1].detail, "Not a folder.");
    EXPECT_EQ(prepared.refused[2].detail,
              "Inside a photo library. Its app manages those files, so Velmo Pristel never opens it.");
    for (const auto& item : prepared.refused) EXPECT_EQ(item.kind, ExcludedItem::Kind::refusedRoot);
}

TEST_F(FolderPrepare, RelativeRootsAreTakenFromTheWorkingFolder) {
    dir.folder("rel");
    char* previous = ::getcwd(nullptr, 0);
    ASSERT_EQ(::chdir(base.c_str()), 0);
    const auto prepared = FolderSource::prepare({"rel"});
    ASSERT_EQ(::chdir(previous), 0);
    std::free(previous);
    EXPECT_EQ(prepared.roots, std::vector<std::string>{base + "/rel"});
}

} // namespace
} // namespace vp
