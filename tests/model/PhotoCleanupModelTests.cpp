#include "engine/common/PathRules.h"
#include "model/PhotoCleanupModel.h"

#include "tests/support/Deadline.h"
#include "tests/support/Pictures.h"
#include "tests/support/MainQueueDriver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vp {
namespace {

class ModelTest : public ::testing::Test {
protected:
    testing::TempDir home;
    std::string base = *PathRules::real(home.path());
    AppFolders folders{base + "/config", base + "/data", base + "/Downloads"};
    MainQueue queue;
    PhotoCleanupHost host = hostAt(base);

    static PhotoCleanupHost hostAt(const std::string& home) {
        PhotoCleanupHost made;
        made.homeFolder = home;
        return made;
    }

    std::unique_ptr<PhotoCleanupModel> makeModel() { return std::make_unique<PhotoCleanupModel>(host, folders, queue); }

    /// Drains the main queue, as a front end's event loop would, until `done` holds.
    void drainUntil(const std::function<bool()>& done) { testing::drainUntil(queue, done); }
    void waitForResults(PhotoCleanupModel& model) {
        drainUntil([&] { return model.phase() == Phase::results; });
    }

    /// A picture, a copy of it, a smaller re-saved version, and an unrelated picture.
    std::string photoFolder(const std::string& name) {
        const std::string folder = base + "/" + name;
        home.folder(name + "/sub");
        testing::writePicture(folder + "/photo.jpg", {.width = 320, .height = 240}, "Q=95");
        testing::writeFile(folder + "/sub/photo copy.jpg", testing::readFile(folder + "/photo.jpg"));
        testing::writePicture(folder + "/photo small.jpg", {.width = 160, .height = 120}, "Q=70");
        testing::writePicture(folder + "/other.png", {.width = 64, .height = 400});
        return folder;
    }
};

TEST_F(ModelTest, AScanRunsFromFoldersToGroupsWithSuggestedMarks) {
    const std::string folder = photoFolder("pictures");
    auto model = makeModel();
    std::size_t notifications = 0;
    model->observe([&] { ++notifications; });
    model->add({folder});
    EXPECT_EQ(model->phase(), Phase::scanning);
    waitForResults(*model);

    ASSERT_TRUE(model->result());
    EXPECT_EQ(model->result()->roots, std::vector<std::string>{folder});
    EXPECT_FALSE(model->similarity()); // exact mode measures nothing
    EXPECT_EQ(model->counts().at(Mode::exact), 1);
    ASSERT_TRUE(model->session());
    ASSERT_EQ(model->session()->groups.size(), 1u);
    EXPECT_GT(notifications, 2u);

    model->markSuggested();
    EXPECT_EQ(model->session()->marks().size(), 1u);
    EXPECT_FALSE(model->notice());
    model->markSuggested();
    EXPECT_EQ(model->notice(), std::string(ReviewSession::nothingMoreToMark));

    // The folder is remembered for the next start.
    auto restarted = makeModel();
    ASSERT_EQ(restarted->sources().size(), 1u);
    EXPECT_EQ(restarted->sources()[0].path, folder);
}

TEST_F(ModelTest, SimilarModeMeasuresOnceAndGoingBackOnlyRegroups) {
    const std::string folder = photoFolder("pictures");
    auto model = makeModel();
    model->add({folder});
    waitForResults(*model);

    model->setMode(Mode::similar);
    EXPECT_EQ(model->phase(), Phase::scanning); // the exact-only scan measured nothing
    waitForResults(*model);
    ASSERT_TRUE(model->similarity());
    EXPECT_EQ(model->counts().at(Mode::similar), 1);
    EXPECT_EQ(model->session()->groups.size(), 1u);
    EXPECT_EQ(model->session()->groups[0].members.size(), 3u);
    EXPECT_EQ(model->identicalCopies(model->session()->groups[0]), (PhotoCleanupModel::IdenticalCopies{2, false}));

    model->setMode(Mode::exact);
    EXPECT_EQ(model->phase(), Phase::results); // regrouped, not scanned
    EXPECT_EQ(model->session()->groups[0].kind, MatchKind::identical);

    model->setMode(Mode::series);
    const auto shown = model->session()->groups;
    model->setPreset(SimilarityPreset::broad);
    EXPECT_EQ(model->session()->groups, shown); // the series list does not depend on the preset
    EXPECT_EQ(makeModel()->preset(), SimilarityPreset::broad);
}

TEST_F(ModelTest, MarksSurviveARescanAndProtectionUnmarks) {
    const std::string folder = photoFolder("pictures");
    auto model = makeModel();
    model->add({folder});
    waitForResults(*model);
    const std::string copy = folder + "/sub/photo copy.jpg";
    model->toggleMark(copy);
    ASSERT_TRUE(model->session()->isMarked(copy));

    model->scan();
    waitForResults(*model);
    EXPECT_TRUE(model->session()->isMarked(copy));

    // A refusal is told: the other copy is now the last one.
    model->toggleMark(folder + "/photo.jpg");
    EXPECT_TRUE(model->notice().has_value());
    EXPECT_FALSE(model->session()->isMarked(folder + "/photo.jpg"));

    model->setProtected(folder, true);
    EXPECT_TRUE(model->session()->marks().empty());
    model->toggleMark(copy);
    EXPECT_FALSE(model->session()->isMarked(copy));
    EXPECT_TRUE(makeModel()->sources()[0].isProtected);

    model->setProtected(folder, false);
    model->toggleLock(copy);
    EXPECT_TRUE(model->session()->isLocked(copy));
    model->toggleMark(copy);
    EXPECT_FALSE(model->session()->isMarked(copy));
}

TEST_F(ModelTest, ANewerScanReplacesAnAbandonedOne) {
    const std::string first = photoFolder("first");
    const std::string second = photoFolder("second");
    auto model = makeModel();
    model->add({first});
    ASSERT_EQ(model->phase(), Phase::scanning);
    model->remove(first); // abandons the running scan
    model->add({second});
    waitForResults(*model);
    EXPECT_EQ(model->result()->roots, std::vector<std::string>{second});
    // Let anything late from the first scan arrive: it must change nothing.
    queue.waitAndDrain(std::chrono::milliseconds(200));
    EXPECT_EQ(model->result()->roots, std::vector<std::string>{second});
}

TEST_F(ModelTest, FoldersThatCannotBeAddedAreTold) {
    const std::string folder = photoFolder("pictures");
    auto model = makeModel();
    model->add({base + "/missing"});
    EXPECT_EQ(model->notice(), "missing is not a folder");
    EXPECT_TRUE(model->sources().empty());
    home.folder("Family.photoslibrary");
    model->add({base + "/Family.photoslibrary"});
    EXPECT_EQ(model->notice(), "Inside a photo library. Its app manages those files, so Velmo Pristel never opens it.");

    model->add({folder});
    waitForResults(*model);
    model->add({folder + "/"}); // the same folder again: nothing added, nothing scanned
    EXPECT_EQ(model->sources().size(), 1u);
    EXPECT_EQ(model->phase(), Phase::results);
}

TEST_F(ModelTest, StartUpCopesWithWhatIsStored) {
    const std::string folder = photoFolder("pictures");
    home.folder("gone");
    {
        auto model = makeModel();
        model->add({folder, base + "/gone"});
        model->setPriorities({KeeperPolicy::Priority::oldest});
    }
    ::rmdir((base + "/gone").c_str());
    auto restarted = makeModel();
    EXPECT_EQ(restarted->notice(), "gone is not a folder");
    EXPECT_EQ(restarted->sources().size(), 1u);
    EXPECT_EQ(restarted->priorities(), std::vector<KeeperPolicy::Priority>{KeeperPolicy::Priority::oldest});

    // A list saved before closed eyes and smiles were known gets them, in their places.
    testing::writeFile(folders.settingsFile(),
                       R"({"photoCleanup.priorities": ["mostPixels", "oldest"], "photoCleanup.prioritiesRevision": 1})");
    using P = KeeperPolicy::Priority;
    EXPECT_EQ(makeModel()->priorities(), (std::vector<P>{P::eyesOpen, P::mostSmiles, P::mostPixels, P::oldest}));
}

struct DamagedSettings {
    const char* name;
    const char* content;
};

void PrintTo(const DamagedSettings& given, std::ostream* out) { *out << given.name; }

class ModelSettings : public ModelTest, public ::testing::WithParamInterface<DamagedSettings> {};

TEST_P(ModelSettings, UnusableFilesAreKeptAsideAndDefaultsUsed) {
    home.folder("config");
    testing::writeFile(folders.settingsFile(), GetParam().content);
    auto model = makeModel();
    ASSERT_TRUE(model->notice());
    EXPECT_NE(model->notice()->find("so the defaults are used"), std::string::npos) << *model->notice();
    EXPECT_TRUE(model->sources().empty());
    EXPECT_EQ(model->preset(), SimilarityPreset::balanced);
    EXPECT_FALSE(std::filesystem::exists(folders.settingsFile()));
    std::size_t kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folders.config)) {
        kept += entry.path().filename().string().starts_with("settings.json.damaged-");
        EXPECT_EQ(testing::readFile(entry.path()), GetParam().content);
    }
    EXPECT_EQ(kept, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModelSettings,
    ::testing::Values(DamagedSettings{"torn", R"({"photoCleanup.preset": "bro)"},
                      DamagedSettings{"notAnObject", R"(["photoCleanup.preset"])"},
                      DamagedSettings{"wrongShape", R"({"photoCleanup.sources": "/home/ann/Pictures"})"},
                      DamagedSettings{"newer", R"({"photoCleanup.settingsVersion": 7, "photoCleanup.preset": "broad"})"}),
    [](const auto& info) { return std::string(info.param.name); });

// Root passes every permission check, so the model is made as "nobody", who may replace the
// file (the folder is open to all) but not read it.
TEST_F(ModelTest, SettingsThatCannotBeReadAreToldAndNeverSavedOver) {
    const std::string folder = photoFolder("pictures");
    const std::string stored = R"({"photoCleanup.protected": ["/home/ann/Pictures/Family"]})";
    ASSERT_EQ(::chmod(home.folder("config").c_str(), 0777), 0);
    ASSERT_EQ(::chmod(base.c_str(), 0777), 0);
    testing::writeFile(folders.settingsFile(), stored);
    ASSERT_EQ(::chmod(folders.settingsFile().c_str(), 0), 0);
    const int status = testing::runAsUnprivilegedUser([&] {
        auto model = makeModel();
        if (!model->notice() || model->notice()->find("could not be read (Permission denied)") == std::string::npos)
            return 1;
        if (!model->missesStoredSafeguards()) return 2;
        model->add({folder}); // saves the folder list, which must not land over the file
        model->setPreset(SimilarityPreset::broad);
        return model->notice()->find("could not be read") != std::string::npos ? 0 : 3;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(testing::readFile(folders.settingsFile()), stored);
}

TEST(Settings, AFifoOrADeviceInPlaceOfTheFileIsToldWithoutHangingAndLeftAlone) {
    testing::TempDir dir;
    const std::string fifo = dir / "fifo.json", zero = dir / "zero.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
    for (const auto& path : {fifo, zero}) {
        const int status = testing::runWithin(10, [&] {
            Settings settings(path);
            if (!settings.problem() || settings.problem()->find("not a plain file") == std::string::npos) return 1;
            settings.set("photoCleanup.preset", "broad");
            return settings.save() ? 2 : 0;
        });
        EXPECT_EQ(status, 0) << path << (status == 124 ? " hung" : "");
    }
    EXPECT_TRUE(std::filesystem::is_fifo(std::filesystem::symlink_status(fifo)));
    EXPECT_TRUE(std::filesystem::is_symlink(std::filesystem::symlink_status(zero)));
}

TEST_F(ModelTest, ATornLockFileIsToldBesideASettingsProblem) {
    home.folder("config");
    testing::writeFile(folders.settingsFile(), "{torn");
    home.folder("data");
    testing::writeFile(folders.locksFile(), R"([{"path":"/a.jpg","created":1},{"path":"/b.j)");
    auto model = makeModel();
    ASSERT_TRUE(model->notice());
    EXPECT_NE(model->notice()->find("so the defaults are used"), std::string::npos) << *model->notice();
    EXPECT_NE(model->notice()->find("1 lock could be read"), std::string::npos) << *model->notice();
    EXPECT_TRUE(model->missesStoredSafeguards());
    EXPECT_FALSE(makeModel()->missesStoredSafeguards()) << "both files were kept aside and the next run is sound";
}

TEST(AppFolders, DownloadsComeFromTheUserDirectories) {
    EXPECT_EQ(downloadFolderIn("# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOWNLOAD_DIR=\"$HOME/Téléchargements\"\n",
                               "/home/ann"),
              "/home/ann/Téléchargements");
    EXPECT_EQ(downloadFolderIn("XDG_DOWNLOAD_DIR=\"/data/dl/\"\n", "/home/ann"), "/data/dl");
    EXPECT_EQ(downloadFolderIn("XDG_DOWNLOAD_DIR=\"$HOME/\"\n", "/home/ann"), "");
    EXPECT_EQ(downloadFolderIn("", "/home/ann"), "");
}

} // namespace
} // namespace vp
