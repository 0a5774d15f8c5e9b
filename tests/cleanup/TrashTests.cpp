#include "CleanupFixtures.h"

#include "engine/cleanup/TrashLocation.h"
#include "engine/cleanup/Trasher.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace vp {
namespace {

class DesktopTrash : public ::testing::Test {
protected:
    std::string info(const std::string& trash, const std::string& name) const {
        return testing::readFile(trash + "/info/" + name + ".trashinfo");
    }
    static bool exists(const std::string& path) { return FileSnapshot::read(path).has_value(); }

    testing::TempDir dir;
    testing::TemporaryHome home{dir / "home"};
    FileManagerTrasher trasher;
};

TEST_F(DesktopTrash, RenamesIntoTheHomeTrashBesideItsRecord) {
    const std::string path = dir.write("My Photos/été #1.jpg", "bytes");
    const auto identity = FileSnapshot::read(path)->identity;
    const auto moved = trasher.trash(path);
    ASSERT_TRUE(moved);
    EXPECT_EQ(*moved, home.trashFiles() + "/été #1.jpg");
    EXPECT_EQ(FileSnapshot::read(*moved)->identity, identity) << "renamed, never copied";
    EXPECT_FALSE(exists(path));

    const std::string record = info(home.trash(), "été #1.jpg");
    EXPECT_TRUE(std::regex_match(record, std::regex("\\[Trash Info\\]\nPath=" + dir.path() +
                                                    "/My%20Photos/%C3%A9t%C3%A9%20%231\\.jpg\n"
                                                    "DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")))
        << record;
    EXPECT_EQ(TrashLocation::candidates(path), std::vector<std::string>{home.trashFiles()});
    EXPECT_EQ(TrashLocation::find(identity, TrashLocation::candidates(path)), moved);
}

TEST_F(DesktopTrash, NamesTakenInTheTrashAreNeverReplaced) {
    const std::string first = dir.write("A/photo.jpg", "one"), second = dir.write("B/photo.jpg", "two"),
                      third = dir.write("C/photo.jpg", "three");
    EXPECT_EQ(trasher.trash(first), home.trashFiles() + "/photo.jpg");
    // A file left in files/ without its record, as another program may leave one.
    dir.write("home/.local/share/Trash/files/photo.2.jpg", "stray");
    EXPECT_EQ(trasher.trash(second), home.trashFiles() + "/photo.3.jpg");
    EXPECT_FALSE(exists(home.trash() + "/info/photo.2.jpg.trashinfo")) << "a record whose move failed is taken back";
    EXPECT_EQ(testing::readFile(home.trashFiles() + "/photo.2.jpg"), "stray");
    EXPECT_EQ(trasher.trash(third), home.trashFiles() + "/photo.4.jpg");
}

TEST_F(DesktopTrash, AFailedMoveLeavesNoRecord) {
    try {
        trasher.trash(dir / "missing.jpg");
        FAIL();
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
    }
    const std::string path = dir.write("a.jpg", "bytes");
    // Where the home Trash should be, a file: the Trash is what is broken, and says so.
    dir.write("home/.local/share/Trash", "not a folder");
    try {
        trasher.trash(path);
        FAIL();
    } catch (const TrashRefusal& refusal) {
        EXPECT_EQ(refusal.kind(), TrashRefusal::Kind::trashUnavailable);
        EXPECT_EQ(refusal.where(), home.trash());
        EXPECT_EQ(CleanupExecutor::outcome(refusal),
                  ItemOutcome::failed("The Trash at " + home.trash() +
                                      " cannot take it (Not a directory). It was left where it was; nothing was deleted."));
    }
    EXPECT_TRUE(exists(path));
}

TEST_F(DesktopTrash, AnotherVolumeUsesItsOwnTrashWithRelativePaths) {
    const std::string volume = dir.folder("Volume");
    testing::TemporaryVolume mount(volume);
    if (!mount.mounted()) GTEST_SKIP() << "mounting a file system needs root";
    const std::string uid = std::to_string(::getuid());
    const std::string path = dir.write("Volume/Trip/a b.jpg", "bytes");
    const std::string own = volume + "/.Trash-" + uid;

    EXPECT_EQ(trasher.trash(path), own + "/files/a b.jpg");
    EXPECT_EQ(info(own, "a b.jpg").substr(0, 33), "[Trash Info]\nPath=Trip/a%20b.jpg\n");
    EXPECT_EQ(TrashLocation::candidates(path), (std::vector<std::string>{home.trashFiles(), own + "/files"}));

    // A shared .Trash is used only when it is a real folder with the sticky bit.
    ASSERT_EQ(::mkdir((volume + "/.Trash").c_str(), 0777), 0);
    const std::string second = dir.write("Volume/Trip/b.jpg", "bytes");
    EXPECT_EQ(trasher.trash(second), own + "/files/b.jpg");
    ASSERT_EQ(::chmod((volume + "/.Trash").c_str(), 01777), 0);
    const std::string third = dir.write("Volume/Trip/c.jpg", "bytes");
    const std::string shared = volume + "/.Trash/" + uid;
    const auto identity = FileSnapshot::read(third)->identity;
    EXPECT_EQ(trasher.trash(third), shared + "/files/c.jpg");
    const auto folders = TrashLocation::candidates(third);
    EXPECT_EQ(folders, (std::vector<std::string>{home.trashFiles(), shared + "/files", own + "/files"}));
    EXPECT_EQ(TrashLocation::find(identity, folders), shared + "/files/c.jpg");
    EXPECT_FALSE(TrashLocation::find(FileIdentity{identity.device, identity.inode + 100000}, folders));
}

TEST_F(DesktopTrash, ANameTooLongForTheTrashRecordsGetsAShorterUniqueOne) {
    const std::string name = std::string(246, 'x') + ".jpg"; // 250 bytes: its record would need 260
    const std::string first = dir.write("A/" + name, "first");
    const std::string second = dir.write("B/" + name, "second");

    const auto one = trasher.trash(first);
    const auto two = trasher.trash(second);
    ASSERT_TRUE(one && two);
    EXPECT_NE(*one, *two);
    for (const auto& moved : {*one, *two}) {
        EXPECT_LE(lastPathComponent(moved).size(), longestTrashName);
        EXPECT_TRUE(endsWith(moved, ".jpg"));
        EXPECT_TRUE(exists(home.trash() + "/info/" + lastPathComponent(moved) + ".trashinfo"));
    }
    EXPECT_NE(info(home.trash(), lastPathComponent(*one)).find("/A/" + name + "\n"), std::string::npos)
        << "the record keeps the whole original name";
    EXPECT_EQ(testing::readFile(*two), "second");
}

TEST_F(DesktopTrash, ASharedVolumeTrashOfAnotherUserIsNotUsed) {
    const std::string volume = dir.folder("Volume");
    testing::TemporaryVolume mount(volume);
    if (!mount.mounted()) GTEST_SKIP() << "mounting a file system needs root";
    const std::string uid = std::to_string(::getuid());
    ASSERT_EQ(::mkdir((volume + "/.Trash").c_str(), 01777), 0);
    ASSERT_EQ(::chmod((volume + "/.Trash").c_str(), 01777), 0);
    const std::string theirs = dir.folder("Volume/.Trash/" + uid);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);

    const std::string path = dir.write("Volume/a.jpg", "bytes");
    EXPECT_EQ(trasher.trash(path), volume + "/.Trash-" + uid + "/files/a.jpg");
    EXPECT_FALSE(exists(theirs + "/files/a.jpg"));
}

} // namespace
} // namespace vp
