#include "engine/common/PathRules.h"
#include "engine/scan/FolderSource.h"

#include "tests/support/TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vp {
namespace {

class FolderWalk : public ::testing::Test {
protected:
    testing::TempDir dir;
    std::string base = *PathRules::real(dir.path());
    CancellationFlag cancel;

    FolderSource::Walk walk(const std::vector<std::string>& roots,
                            const std::optional<FolderSource::NameSet>& only = std::nullopt,
                            const std::vector<std::string>& listed = {}) {
        return FolderSource::walk(roots, only, listed, cancel, nullptr);
    }
    std::string path(const std::string& relative) const { return base + "/" + relative; }
    void link(const std::string& target, const std::string& name) {
        ASSERT_EQ(::symlink(target.c_str(), path(name).c_str()), 0);
    }
};

std::vector<std::string> foundPaths(const FolderSource::Walk& walk) {
    std::vector<std::string> paths;
    for (const auto& found : walk.found) paths.push_back(found.path);
    return paths;
}

std::optional<SkippedFile> skippedAt(const FolderSource::Walk& walk, const std::string& path) {
    for (const auto& file : walk.skipped)
        if (file.path == path) return file;
    return std::nullopt;
}

TEST_F(FolderWalk, SortsFilesIntoCandidatesSkippedAndOther) {
    dir.write("b/photo.JPG", "jpeg bytes");
    dir.write("a/pic.png", "png bytes");
    dir.write("a/notes.txt", "text");
    dir.write("a/anim.gif", "gif");
    dir.write("a/empty.jpg", "");
    dir.write("a/.hidden.jpg", "hidden");
    dir.write("a/.thumbnails/t.jpg", "hidden folder");
    dir.write("a/.notes.txt", "a hidden file that is no picture");
    dir.write("a/raw.CR2", "raw bytes");

    const auto result = walk({base});
    EXPECT_EQ(foundPaths(result), (std::vector<std::string>{path("a/pic.png"), path("a/raw.CR2"), path("b/photo.JPG")}));
    EXPECT_EQ(result.discovered, 3);
    EXPECT_EQ(result.found[0].format, PhotoFormat::png);
    EXPECT_EQ(result.found[0].root, base);
    EXPECT_EQ(result.found[1].format, PhotoFormat::raw);
    EXPECT_EQ(result.found[2].snapshot.size, 10);
    EXPECT_EQ(result.otherFiles, 1);
    EXPECT_EQ(skippedAt(result, path("a/anim.gif")), (SkippedFile{path("a/anim.gif"), SkipReason::unsupportedFormat, "GIF"}));
    EXPECT_EQ(skippedAt(result, path("a/empty.jpg")), (SkippedFile{path("a/empty.jpg"), SkipReason::empty, std::nullopt}));
    EXPECT_EQ(result.skipped.size(), 2u); // hidden entries are neither skipped nor counted,
    // but hidden folders and would-be pictures are named, so a missing picture can be explained.
    auto hidden = result.hidden;
    std::sort(hidden.begin(), hidden.end());
    EXPECT_EQ(hidden, (std::vector<std::string>{path("a/.hidden.jpg"), path("a/.thumbnails")}));
    EXPECT_EQ(result.namesByFolder.at(path("a")),
              (FolderSource::NameSet{"anim.gif", "empty.jpg", "notes.txt", "pic.png", "raw.cr2"}));
}

TEST_F(FolderWalk, LinksAreReportedAndNeverFollowed) {
    testing::TempDir outside;
    outside.write("far.jpg", "outside picture");
    dir.write("in/near.jpg", "inside picture");
    link(path("in/near.jpg"), "in/to-near.jpg");
    link(outside.path(), "in/to-outside");
    link(base, "in/loop");            // a link back up the tree
    link(path("nowhere.jpg"), "in/broken.jpg");

    const auto result = walk({base});
    EXPECT_EQ(foundPaths(result), std::vector<std::string>{path("in/near.jpg")});
    for (const char* name : {"in/to-near.jpg", "in/to-outside", "in/loop", "in/broken.jpg"}) {
        const auto skipped = skippedAt(result, path(name));
        ASSERT_TRUE(skipped) << name;
        EXPECT_EQ(skipped->reason, SkipReason::symbolicLink);
        EXPECT_FALSE(skipped->detail);
    }
    EXPECT_FALSE(result.namesByFolder.at(path("in")).contains("to-near.jpg"));
}

TEST_F(FolderWalk, HardLinksAreOnePicture) {
    const std::string first = dir.write("a/one.jpg", "same inode");
    dir.folder("b");
    ASSERT_EQ(::link(first.c_str(), path("b/two.jpg").c_str()), 0);

    const auto result = walk({base});
    ASSERT_EQ(result.found.size(), 1u);
    EXPECT_EQ(result.hardLinksFolded, 1);
    EXPECT_EQ(result.otherNames.at(result.found[0].snapshot.identity), std::vector<std::string>{path("b/two.jpg")});
    EXPECT_EQ(result.found[0].snapshot.linkCount, 2u);
}

TEST_F(FolderWalk, ManagedLibrariesAndPackagesStayClosed) {
    dir.write("Family.photoslibrary/originals/x.jpg", "x");
    dir.write("Work.COCATALOG/y.jpg", "y");
    dir.write("CaptureOne/z.jpg", "z");
    dir.write("captureone/w.jpg", "w"); // the folder name is matched with its case
    dir.write("Tool.app/Contents/icon.png", "i");

    const auto result = walk({base});
    EXPECT_EQ(foundPaths(result), std::vector<std::string>{path("captureone/w.jpg")});
    ASSERT_EQ(result.excluded.size(), 4u);
    EXPECT_EQ(result.excluded[0], (ExcludedItem{path("CaptureOne"), ExcludedItem::Kind::managedLibrary,
                                                "A photo library or catalogue. Its app manages these files, so they are never opened here."}));
    EXPECT_EQ(result.excluded[1].path, path("Family.photoslibrary"));
    EXPECT_EQ(result.excluded[2], (ExcludedItem{path("Tool.app"), ExcludedItem::Kind::package,
                                                "A package is one thing, not a folder of photos."}));
    EXPECT_EQ(result.excluded[3].path, path("Work.COCATALOG"));
}

TEST_F(FolderWalk, UnreadableFoldersAndFilesAreReportedToAnOrdinaryUser) {
    dir.write("open/ok.jpg", "ok");
    dir.write("locked/inside.jpg", "never seen");
    dir.write("open/private.jpg", "no read permission");
    ASSERT_EQ(::chmod(path("locked").c_str(), 0), 0);
    ASSERT_EQ(::chmod(path("open/private.jpg").c_str(), 0), 0);

    const int status = testing::runAsUnprivilegedUser([&] {
        const auto result = walk({base});
        if (foundPaths(result) != std::vector<std::string>{path("open/ok.jpg")}) return 1;
        if (result.excluded != std::vector<ExcludedItem>{{path("locked"), ExcludedItem::Kind::unreadableFolder,
                                                           "Permission denied"}})
            return 2;
        if (result.skipped != std::vector<SkippedFile>{{path("open/private.jpg"), SkipReason::unreadable,
                                                         "Permission denied"}})
            return 3;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(FolderWalk, AnUnreadableRootIsExcludedAndTheOthersGoOn) {
    dir.write("locked/a.jpg", "a");
    dir.write("open/b.jpg", "b");
    ASSERT_EQ(::chmod(path("locked").c_str(), 0), 0);
    const int status = testing::runAsUnprivilegedUser([&] {
        const auto result = walk({path("locked"), path("open")});
        if (foundPaths(result) != std::vector<std::string>{path("open/b.jpg")}) return 1;
        return result.excluded == std::vector<ExcludedItem>{{path("locked"), ExcludedItem::Kind::unreadableFolder,
                                                              "The system would not open this folder."}}
                   ? 0
                   : 2;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(FolderWalk, OnlyAndListedDecideWhatIsConsidered) {
    dir.write("cat/in-catalog.jpg", "1");
    dir.write("cat/not-in-catalog.jpg", "2");
    testing::TempDir elsewhere;
    const std::string listed = elsewhere.write("far/listed.jpg", "3");
    const std::string gone = elsewhere.path() + "/far/gone.jpg";

    const auto result = walk({path("cat")}, FolderSource::NameSet{path("cat/in-catalog.jpg")}, {listed, gone, listed});
    EXPECT_EQ(foundPaths(result), (std::vector<std::string>{path("cat/in-catalog.jpg"), listed}));
    EXPECT_EQ(result.found[1].root, elsewhere.path() + "/far");
    EXPECT_EQ(skippedAt(result, gone),
              (SkippedFile{gone, SkipReason::unreadable, "It disappeared or is not a plain file."}));
    EXPECT_TRUE(result.namesByFolder.at(path("cat")).contains("not-in-catalog.jpg"));
    EXPECT_TRUE(result.namesByFolder.at(elsewhere.path() + "/far").contains("gone.jpg"));
}

TEST_F(FolderWalk, OddNamesAndDeepTreesAreWalked) {
    dir.write("line\nbreak.jpg", "newline in the name");
    dir.write(std::string("latin1-\xe9t\xe9.jpg"), "not UTF-8");
    std::string deep;
    for (int level = 0; level < 300; ++level) deep += "d/";
    dir.write(deep + "bottom.jpg", "deep");
    // A FIFO with a picture's name is no plain file.
    ASSERT_EQ(::mkfifo(path("pipe.jpg").c_str(), 0644), 0);

    const auto result = walk({base});
    EXPECT_EQ(result.found.size(), 3u);
    const auto paths = foundPaths(result);
    EXPECT_NE(std::find(paths.begin(), paths.end(), path("line\nbreak.jpg")), paths.end());
    EXPECT_NE(std::find(paths.begin(), paths.end(), path(std::string("latin1-\xe9t\xe9.jpg"))), paths.end());
    EXPECT_NE(std::find(paths.begin(), paths.end(), path(deep + "bottom.jpg")), paths.end());
    EXPECT_EQ(skippedAt(result, path("pipe.jpg"))->reason, SkipReason::unreadable);
}

TEST_F(FolderWalk, CancellationStopsTheWalkAndProgressCountsEntries) {
    for (int i = 0; i < 2500; ++i) dir.write("many/" + std::to_string(i) + ".txt", "");
    std::vector<std::int64_t> reports;
    const auto counted = FolderSource::walk({base}, std::nullopt, {}, cancel,
                                            [&](std::int64_t entries) { reports.push_back(entries); });
    EXPECT_EQ(reports, (std::vector<std::int64_t>{1000, 2000}));
    EXPECT_FALSE(counted.cancelled);

    CancellationFlag stop;
    const auto stopped = FolderSource::walk({base}, std::nullopt, {}, stop, [&](std::int64_t) { stop.cancel(); });
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_LT(stopped.otherFiles, 2500);
}

TEST_F(FolderWalk, TheTrashIsNeverScanned) {
    const char* before = std::getenv("XDG_DATA_HOME");
    const std::string saved = before != nullptr ? before : "";
    ::setenv("XDG_DATA_HOME", path("share").c_str(), 1);
    dir.write("share/Trash/files/photo.jpg", "a copy put there to be deleted");
    dir.write("share/photo.jpg", "a copy put there to be deleted");
    dir.write("Volume/.Trash-1000/files/photo.jpg", "a copy put there to be deleted");

    const auto chosenAbove = walk({path("share")});
    EXPECT_EQ(foundPaths(chosenAbove), std::vector<std::string>{path("share/photo.jpg")});
    ASSERT_EQ(chosenAbove.excluded.size(), 1u);
    EXPECT_EQ(chosenAbove.excluded[0].path, path("share/Trash"));
    EXPECT_EQ(chosenAbove.excluded[0].kind, ExcludedItem::Kind::trash);

    const auto chosenInside = walk({path("share/Trash/files"), path("Volume/.Trash-1000")});
    EXPECT_TRUE(chosenInside.found.empty());
    EXPECT_EQ(chosenInside.excluded.size(), 2u);

    if (before != nullptr)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace vp
