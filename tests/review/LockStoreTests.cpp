#include "engine/common/Text.h"
#include "engine/review/LockStore.h"
#include "tests/support/Deadline.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace vp {
namespace {

namespace fs = std::filesystem;

PhotoAsset pictureAt(const std::string& path) {
    PhotoAsset asset;
    asset.path = path;
    asset.snapshot = *FileSnapshot::read(path);
    return asset;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LockStore, WritesCompactJsonWithDatesSince2001) {
    testing::TempDir dir;
    const std::string file = dir / "data/PhotoCleanup/keep-locks.json";
    const auto asset = pictureAt(dir.write("a.jpg", "x"));
    PhotoAsset notAFile;
    notAFile.path = "photos-library:ABC";
    LockStore store(file);
    store.add(asset);
    store.add(asset);
    store.add(notAFile);
    EXPECT_EQ(LockStore(file).locks(), store.locks()) << "reads back exactly what it wrote";
    EXPECT_EQ(namesIn(dir / "data/PhotoCleanup"), std::vector<std::string>{"keep-locks.json"})
        << "no temporary left";

    const std::string text = testing::readFile(file);
    const auto identity = asset.snapshot.identity;
    const std::string expectedStart = R"([{"path":")" + asset.path + R"(","identity":{"device":)" +
                                      std::to_string(identity.device) + R"(,"inode":)" +
                                      std::to_string(identity.inode) + R"(},"created":)";
    EXPECT_EQ(text.substr(0, expectedStart.size()), expectedStart);
    EXPECT_NE(text.find(R"({"path":"photos-library:ABC","created":)"), std::string::npos) << text;
    EXPECT_EQ(text.find_first_of(" \n"), std::string::npos);

    const auto json = Json::parse(text);
    ASSERT_EQ(json.size(), 2u);
    const double sinceReference =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() -
        978307200.0;
    EXPECT_NEAR(json[0]["created"].get<double>(), sinceReference, 60.0);
}

TEST(LockStore, ReadsAFileWrittenByHand) {
    testing::TempDir dir;
    const std::string file =
        dir.write("keep-locks.json", R"([{"created":700000000.25,"path":"\/Volumes\/Disk\/a.jpg","extra":1},)"
                                     R"({"path":"/b.jpg","identity":null,"created":1}])");
    LockStore store(file);
    ASSERT_EQ(store.locks().size(), 2u);
    EXPECT_EQ(store.locks()[0].path, "/Volumes/Disk/a.jpg");
    EXPECT_FALSE(store.locks()[0].identity);
    EXPECT_DOUBLE_EQ(secondsSinceReferenceDate(store.locks()[0].created), 700000000.25);
    PhotoAsset locked;
    locked.path = "/b.jpg";
    EXPECT_TRUE(store.isLocked(locked));
}

class LockStoreDamaged : public ::testing::TestWithParam<const char*> {};

TEST_P(LockStoreDamaged, IsMovedAsideAndTheStoreStartsEmpty) {
    testing::TempDir dir;
    const std::string file = dir.write("keep-locks.json", GetParam());
    const auto before = std::chrono::system_clock::now();
    LockStore store(file);
    EXPECT_TRUE(store.locks().empty());

    const auto names = namesIn(dir.path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(names[0] == lastPathComponent(LockStore::damagedPath(file, before)) ||
                names[0] == lastPathComponent(LockStore::damagedPath(file, std::chrono::system_clock::now())))
        << names[0];
    EXPECT_TRUE(names[0].starts_with("keep-locks.json.damaged-"));
    EXPECT_EQ(testing::readFile(dir / names[0]), GetParam());

    // The next change writes a new file and leaves the damaged one alone.
    store.add(pictureAt(dir.write("a.jpg", "x")));
    EXPECT_EQ(LockStore(file).locks().size(), 1u);
    EXPECT_EQ(namesIn(dir.path()).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Cases, LockStoreDamaged,
                         ::testing::Values("not json at all", "",         // truncated to nothing
                                           R"({"path":"/a.jpg"})",        // an object, not a list
                                           R"([{"path":"/a.jpg"}])",      // no date
                                           R"([{"path":7,"created":1}])", // a path that is no text
                                           R"([{"path":"/a","created":"2024-01-01T00:00:00Z"}])"));

// A crash or a full disk can cut the file anywhere; every lock before the cut, and every
// sound one beside a damaged one, still protects its picture.
TEST(LockStore, ATornOrPartlyDamagedFileKeepsEveryLockThatStillDecodes) {
    testing::TempDir dir;
    const std::string file = dir / "data/keep-locks.json";
    std::vector<PhotoAsset> pictures;
    {
        LockStore store(file);
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
            pictures.push_back(pictureAt(dir.write(name, name)));
            store.add(pictures.back());
        }
    }
    const std::string whole = testing::readFile(file);
    const std::string torn = whole.substr(0, whole.rfind("\"created\""));
    testing::writeFile(file, torn);

    LockStore store(file);
    EXPECT_TRUE(store.isLocked(pictures[0]));
    EXPECT_TRUE(store.isLocked(pictures[1]));
    EXPECT_FALSE(store.isLocked(pictures[2]));
    ASSERT_TRUE(store.problem());
    EXPECT_NE(store.problem()->find("2 locks could be read"), std::string::npos) << *store.problem();
    EXPECT_NE(store.problem()->find("keep-locks.json.damaged-"), std::string::npos) << *store.problem();

    // The torn file is kept as it was, and the next run starts from the saved locks alone.
    const auto names = namesIn(dir / "data");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(testing::readFile(dir / ("data/" + names[1])), torn);
    LockStore next(file);
    EXPECT_EQ(next.locks(), store.locks());
    EXPECT_FALSE(next.problem());

    // One damaged record in the middle takes only itself along.
    const std::string middle = R"([{"path":"/a.jpg","created":1},{"path":"/b.jpg","identity":{"device":-1,"inode":2},)"
                               R"("created":1},{"path":"/c.jpg","created":1.7e+101}, {"path":"/d.jpg","created":1]})";
    const auto content = LockStore::decodeFile(middle);
    EXPECT_TRUE(content.damaged);
    ASSERT_EQ(content.locks.size(), 2u);
    EXPECT_EQ(content.locks[0].path, "/a.jpg");
    EXPECT_EQ(content.locks[1].path, "/c.jpg") << "a date out of range is pulled in, the lock kept";
}

// Root passes every permission check, so the file is made unreadable to "nobody" instead.
TEST(LockStore, AFileThatCannotBeReadIsNeverWrittenOver) {
    testing::TempDir dir;
    const std::string folder = dir.folder("data");
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    const std::string file = dir.write("data/keep-locks.json", R"([{"path":"/a.jpg","created":1}])");
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    const std::string picture = dir.write("b.jpg", "b");
    const int status = testing::runAsUnprivilegedUser([&] {
        LockStore store(file);
        if (!store.problem() || store.problem()->find("Permission denied") == std::string::npos) return 1;
        store.add(pictureAt(picture));
        return store.locks().size() == 1 ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(testing::readFile(file), R"([{"path":"/a.jpg","created":1}])");
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"keep-locks.json"});
}

TEST(LockStore, AFifoOrADeviceInPlaceOfTheFileNeitherHangsNorIsReplaced) {
    testing::TempDir dir;
    const std::string fifo = dir / "fifo/keep-locks.json";
    dir.folder("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = dir / "zero/keep-locks.json";
    dir.folder("zero");
    fs::create_symlink("/dev/zero", zero);
    for (const auto& file : {fifo, zero}) {
        const int status = testing::runWithin(10, [&] {
            LockStore store(file);
            store.add(pictureAt(dir.write("a.jpg", "a")));
            return store.problem() ? 0 : 1;
        });
        EXPECT_EQ(status, 0) << file << (status == 124 ? " hung" : "");
    }
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(zero)));
}

TEST(LockStore, ManyThreadsAtOnceLoseNoLock) {
    testing::TempDir dir;
    const std::string file = dir / "keep-locks.json";
    LockStore store(file);
    std::vector<PhotoAsset> assets;
    for (int index = 0; index < 40; ++index)
        assets.push_back(pictureAt(dir.write("p" + std::to_string(index) + ".jpg", std::to_string(index))));
    {
        std::vector<std::jthread> threads;
        for (int worker = 0; worker < 4; ++worker)
            threads.emplace_back([&, worker] {
                for (std::size_t index = static_cast<std::size_t>(worker); index < assets.size();
                     index += 4) {
                    store.add(assets[index]);
                    EXPECT_TRUE(store.isLocked(assets[index]));
                }
            });
    }
    EXPECT_EQ(LockStore(file).locks().size(), assets.size());
}

} // namespace
} // namespace vp
