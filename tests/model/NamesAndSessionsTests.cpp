// File names are bytes: a name that is not UTF-8 goes through the model's settings, the locks,
// a cleanup, its journal, the history and put-back exactly, and never stops the other pictures.
// And the model's one-off sessions: a transient model saves no settings, and Stop After This
// One ends a running cleanup after the picture it is on.
#include "engine/cleanup/CleanupExecutor.h"
#include "engine/cleanup/CleanupJournal.h"
#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "engine/review/LockStore.h"
#include "model/PhotoCleanupModel.h"

#include "tests/support/MainQueueDriver.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>

namespace vp {
namespace {

namespace fs = std::filesystem;

const std::string latin1Name = "caf\xe9 copy.jpg";          // "café" as Latin-1: not UTF-8
const std::string reservedName = "\xf4\x8f\xbf\xbf end.jpg"; // U+10FFFF, the escape's own range
const std::string controlName = "two\nlines \x1b[31mred.jpg";

bool fileExists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

class NamesAndSessions : public ::testing::Test {
protected:
    testing::TempDir home;
    std::string base = *PathRules::real(home.path());
    AppFolders folders{base + "/config", base + "/data", base + "/Downloads"};
    MainQueue queue;
    std::string pictures = base + "/Pictures \xff\xfe"; // the folder's own name is not UTF-8
    std::string original = pictures + "/photo.jpg";

    void SetUp() override {
        ::setenv("XDG_DATA_HOME", (base + "/share").c_str(), 1);
        fs::create_directories(pictures);
        testing::writePicture(original, {.width = 200, .height = 150});
        ::utimes(original.c_str(), nullptr);
        const timeval old[2] = {{1000000000, 0}, {1000000000, 0}}; // the oldest: the one kept
        ::utimes(original.c_str(), old);
    }
    void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

    std::string copyNamed(const std::string& name) {
        const std::string path = pictures + "/" + name;
        testing::writeFile(path, testing::readFile(original));
        return path;
    }

    std::unique_ptr<PhotoCleanupModel> makeModel(std::shared_ptr<Trasher> trasher = nullptr) {
        PhotoCleanupHost host;
        host.homeFolder = base;
        return std::make_unique<PhotoCleanupModel>(host, folders, queue, std::move(trasher));
    }
    void drainUntil(const std::function<bool()>& done) { testing::drainUntil(queue, done); }

    /// Scans the pictures, marks every suggested copy and reviews.
    CleanupPlan planAll(PhotoCleanupModel& model) {
        model.add({pictures});
        drainUntil([&] { return model.phase() == Phase::results; });
        model.markSuggested();
        model.review();
        EXPECT_TRUE(model.pendingPlan()) << model.notice().value_or("");
        return model.pendingPlan().value_or(CleanupPlan{});
    }
};

TEST_F(NamesAndSessions, ANameThatIsNotUtf8GoesThroughACleanupHistoryAndPutBackExactly) {
    const std::vector<std::string> copies{copyNamed(latin1Name), copyNamed(reservedName), copyNamed(controlName),
                                          copyNamed("plain copy.jpg")};
    auto model = makeModel();
    const CleanupPlan plan = planAll(*model);
    ASSERT_EQ(plan.removals.size(), copies.size());

    // The plan as JSON text, and back: the same bytes.
    const std::string text = encodeJson(plan).dump();
    EXPECT_TRUE(isValidUtf8(text));
    EXPECT_EQ(decodeJsonText<CleanupPlan>(text).value().removals, plan.removals); // dates keep whole seconds

    model->confirmAndExecute(plan);
    drainUntil([&] { return model->phase() != Phase::executing && model->report(); });
    const CleanupReport report = *model->report();
    EXPECT_EQ(report.moved(), static_cast<std::int64_t>(copies.size())) << encodeJson(report).dump();
    for (const auto& copy : copies) EXPECT_FALSE(fileExists(copy)) << displayable(copy);
    EXPECT_TRUE(fileExists(original));

    // The journal holds valid UTF-8, and the history read from it has the exact paths.
    const std::string journal = testing::readFile(report.journalPath);
    EXPECT_TRUE(isValidUtf8(journal));
    ASSERT_EQ(model->history().size(), 1u);
    const CleanupReport fromJournal = model->history()[0];
    std::vector<std::string> recorded;
    for (const auto& item : fromJournal.items) recorded.push_back(item.removal.path);
    std::sort(recorded.begin(), recorded.end());
    auto expected = copies;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(recorded, expected);

    for (const auto& item : fromJournal.items) {
        const auto back = model->putBack(fromJournal, item);
        EXPECT_EQ(back.kind, RestoreOutcome::Kind::restored) << displayable(item.removal.path) << ": " << back.text;
    }
    for (const auto& copy : copies) EXPECT_EQ(testing::readFile(copy), testing::readFile(original)) << displayable(copy);
    EXPECT_EQ(model->history()[0].restored(), static_cast<std::int64_t>(copies.size()));
}

TEST_F(NamesAndSessions, SettingsAndLocksKeepANameThatIsNotUtf8) {
    const std::string copy = copyNamed(latin1Name);
    {
        auto model = makeModel();
        model->add({pictures});
        model->setProtected(pictures, true);
        drainUntil([&] { return model->phase() == Phase::results; });
        model->toggleLock(copy);
        EXPECT_FALSE(model->notice()) << *model->notice();
    }
    EXPECT_TRUE(isValidUtf8(testing::readFile(folders.settingsFile())));
    EXPECT_TRUE(isValidUtf8(testing::readFile(folders.locksFile())));
    auto restarted = makeModel();
    ASSERT_EQ(restarted->sources().size(), 1u);
    EXPECT_EQ(restarted->sources()[0].path, pictures);
    EXPECT_TRUE(restarted->sources()[0].isProtected);
    const LockStore locks(folders.locksFile());
    ASSERT_EQ(locks.locks().size(), 1u);
    EXPECT_EQ(locks.locks()[0].path, copy);
}

TEST_F(NamesAndSessions, ATransientModelSavesNoSettings) {
    const std::string other = base + "/Other";
    fs::create_directories(other);
    {
        auto model = makeModel();
        model->add({other});
        model->setProtected(other, true);
    }
    const std::string before = testing::readFile(folders.settingsFile());

    auto model = makeModel();
    model->setTransient(true);
    EXPECT_TRUE(model->isTransient());
    model->remove(other);
    model->add({pictures});
    model->setProtected(pictures, true);
    model->setPreset(SimilarityPreset::broad);
    model->setPriorities({KeeperPolicy::Priority::newest});
    model->setScope(Scope::photosLibrary);
    model->setScope(Scope::folders);
    EXPECT_EQ(model->preset(), SimilarityPreset::broad); // the session has them
    EXPECT_EQ(model->sources().size(), 1u);
    EXPECT_EQ(testing::readFile(folders.settingsFile()), before); // the file does not
    model.reset();
    auto restarted = makeModel();
    ASSERT_EQ(restarted->sources().size(), 1u);
    EXPECT_EQ(restarted->sources()[0].path, other);
    EXPECT_EQ(restarted->preset(), SimilarityPreset::balanced);
}

// Holds the first move until the test lets it go, so Stop After This One lands mid-cleanup.
struct HeldTrasher : Trasher {
    std::mutex mutex;
    std::condition_variable changed;
    bool firstStarted = false, released = false;

    std::optional<std::string> trash(const std::string& path) override {
        {
            std::unique_lock lock(mutex);
            if (!firstStarted) {
                firstStarted = true;
                changed.notify_all();
                changed.wait(lock, [&] { return released; });
            }
        }
        return FileManagerTrasher().trash(path);
    }
};

TEST_F(NamesAndSessions, StopAfterThisOneFinishesThePictureAndLeavesTheRest) {
    std::vector<std::string> copies;
    for (int i = 0; i < 5; ++i) copies.push_back(copyNamed("copy " + std::to_string(i) + ".jpg"));
    const auto trasher = std::make_shared<HeldTrasher>();
    auto model = makeModel(trasher);
    const CleanupPlan plan = planAll(*model);
    ASSERT_EQ(plan.removals.size(), copies.size());

    model->stopAfterThisOne(); // nothing runs: nothing to stop, and the next cleanup is not affected
    model->confirmAndExecute(plan);
    {
        std::unique_lock lock(trasher->mutex);
        trasher->changed.wait(lock, [&] { return trasher->firstStarted; });
    }
    model->stopAfterThisOne();
    {
        std::lock_guard lock(trasher->mutex);
        trasher->released = true;
    }
    trasher->changed.notify_all();
    drainUntil([&] { return model->phase() != Phase::executing && model->report(); });

    const CleanupReport& report = *model->report();
    ASSERT_EQ(report.items.size(), copies.size());
    EXPECT_EQ(report.items[0].outcome.kind, ItemOutcome::Kind::movedToTrash);
    for (std::size_t i = 1; i < report.items.size(); ++i) {
        EXPECT_EQ(report.items[i].outcome, ItemOutcome::skipped(std::string(CleanupExecutor::cancelledSentence)));
        EXPECT_TRUE(fileExists(report.items[i].removal.path));
    }
    EXPECT_FALSE(fileExists(report.items[0].removal.path));
    EXPECT_TRUE(report.finished.has_value());
}

} // namespace
} // namespace vp
