// What another process, or another program, does while a cleanup runs: a second cleanup, a
// history or put-back started meanwhile, a folder swapped for a link or a file saved anew in
// the moment between the last check and the move.
#include "CleanupFixtures.h"

#include "engine/cleanup/CleanupJournal.h"
#include "engine/cleanup/Restorer.h"
#include "engine/cleanup/TrashLocation.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vp {
namespace {

using testing::planOf;
using testing::removalOf;

/// The desktop Trash, with something done to the tree just before the rename.
class InterruptedTrasher final : public FileManagerTrasher {
public:
    explicit InterruptedTrasher(std::function<void(const std::string&)> meanwhile) : m_meanwhile(std::move(meanwhile)) {}

protected:
    void beforeRename(const std::string& path) override { m_meanwhile(path); }

private:
    std::function<void(const std::string&)> m_meanwhile;
};

using Concurrently = testing::CleanupFolders;

TEST_F(Concurrently, ASecondProcessNeitherRunsNorSettlesNorPutsBackWhileACleanupRuns) {
    // Two copies of one picture; each cleanup keeps the other one.
    const std::string a = dir.write("Photos/a.jpg", "same bytes");
    const std::string b = dir.write("Photos/b.jpg", "same bytes");
    const auto first = planOf({root}, {removalOf(a, root, {b})});
    const auto second = planOf({root}, {removalOf(b, root, {a})});

    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // The first cleanup stops just before its move until the parent has tried everything.
        auto trasher = std::make_shared<InterruptedTrasher>([&](const std::string&) {
            char byte = 1;
            (void)!::write(ready[1], &byte, 1);
            (void)!::read(go[0], &byte, 1);
        });
        const auto report = run(first, trasher);
        ::_exit(report && report->moved() == 1 ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);

    const auto refused = run(second, std::make_shared<FileManagerTrasher>());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, ExecutionRefusal::Kind::anotherCleanupRunning);
    EXPECT_EQ(refused.error().description(),
              "Another cleanup is moving pictures right now, so nothing was moved. Try again when it has finished.");

    const std::string url = CleanupJournal::pathFor(journals, first.id);
    const std::string running = testing::readFile(url);
    EXPECT_EQ(CleanupJournal::unfinished(journals), std::vector<std::string>{url}) << "it looks unfinished from outside";
    EXPECT_FALSE(CleanupJournal::reconcile(url)) << "but its writer holds it";
    EXPECT_EQ(testing::readFile(url), running) << "nothing was written into the running cleanup's journal";
    const auto snapshot = CleanupJournal::report(url);
    ASSERT_TRUE(snapshot);
    ItemReport moved = snapshot->items.front();
    moved.outcome = ItemOutcome::movedToTrash(home.trashFiles() + "/a.jpg");
    EXPECT_EQ(Restorer::restore(moved, url), RestoreOutcome::failed(std::string(Restorer::busySentence)));

    ASSERT_EQ(::write(go[1], &byte, 1), 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(exists(b)) << "one copy always stays";
    EXPECT_FALSE(exists(a));

    // Afterwards the second plan runs and sees the first one's move: its keeper is gone.
    const auto after = run(second, std::make_shared<FileManagerTrasher>());
    ASSERT_TRUE(after) << after.error().description();
    EXPECT_EQ(after->items.front().outcome.kind, ItemOutcome::Kind::skipped);
    EXPECT_TRUE(exists(b));
    const auto finished = CleanupJournal::report(url);
    ASSERT_TRUE(finished);
    EXPECT_FALSE(finished->reconciled);
    EXPECT_EQ(finished->moved(), 1);
}

TEST_F(Concurrently, AFolderSwappedForALinkAfterTheCheckNeverSendsAFileFromOutside) {
    const std::string keeper = dir.write("Photos/Keep/a.jpg", "bytes");
    const std::string copy = dir.write("Photos/Copies/a.jpg", "bytes");
    const std::string outside = dir.write("Outside/a.jpg", "bytes");
    const auto plan = planOf({root}, {removalOf(copy, root, {keeper})});
    const auto planned = FileSnapshot::read(copy)->identity;
    auto trasher = std::make_shared<InterruptedTrasher>([&](const std::string&) {
        std::filesystem::rename(root + "/Copies", root + "/Copies-moved");
        std::filesystem::create_directory_symlink(dir / "Outside", root + "/Copies");
    });

    const auto report = run(plan, trasher);
    ASSERT_TRUE(report) << report.error().description();
    EXPECT_EQ(testing::readFile(outside), "bytes") << "the file outside the chosen folders stays";
    const auto& outcome = report->items.front().outcome;
    // The handle held the folder that was checked, so what moved is the planned picture itself.
    ASSERT_TRUE(outcome.trashPath) << outcome.text;
    EXPECT_EQ(FileSnapshot::read(*outcome.trashPath)->identity, planned);
}

TEST_F(Concurrently, AFolderAlreadyALinkWhenTheMoveStartsIsNotEntered) {
    const std::string keeper = dir.write("Photos/Keep/a.jpg", "bytes");
    const std::string copy = dir.write("Photos/Copies/a.jpg", "bytes");
    dir.write("Outside/a.jpg", "bytes");
    const FileIdentity planned = FileSnapshot::read(copy)->identity;
    std::filesystem::rename(root + "/Copies", root + "/Copies-moved");
    std::filesystem::create_directory_symlink(dir / "Outside", root + "/Copies");

    FileManagerTrasher trasher;
    try {
        trasher.trashChecked(copy, planned);
        FAIL();
    } catch (const TrashRefusal& refusal) {
        EXPECT_EQ(CleanupExecutor::outcome(refusal), ItemOutcome::skipped(std::string(CleanupExecutor::folderAliasSentence)));
    }
    EXPECT_TRUE(exists(dir / "Outside/a.jpg"));
}

TEST_F(Concurrently, ANewVersionSavedInTheLastMomentGoesBackAndIsReportedAsChanged) {
    const std::string keeper = dir.write("Photos/Keep/a.jpg", "bytes");
    const std::string copy = dir.write("Photos/Copies/a.jpg", "bytes");
    const auto plan = planOf({root}, {removalOf(copy, root, {keeper})});
    // An editor saves the way editors do: a new file renamed over the old name.
    auto trasher = std::make_shared<InterruptedTrasher>([&](const std::string& path) {
        testing::writeFile(path + ".saving", "the edited version");
        std::filesystem::rename(path + ".saving", path);
    });

    const auto report = run(plan, trasher);
    ASSERT_TRUE(report) << report.error().description();
    EXPECT_EQ(report->items.front().outcome, ItemOutcome::skipped(std::string(CleanupExecutor::changedSentence)));
    EXPECT_EQ(testing::readFile(copy), "the edited version") << "the new version is back in its folder";
    EXPECT_TRUE(std::filesystem::is_empty(home.trashFiles()));
    EXPECT_TRUE(std::filesystem::is_empty(home.trash() + "/info")) << "and no record of it is left in the Trash";
}

TEST_F(Concurrently, PutBackNeverFollowsALinkThatReplacedTheFolder) {
    const std::string keeper = dir.write("Photos/Keep/a.jpg", "bytes");
    const std::string copy = dir.write("Photos/Copies/a.jpg", "bytes");
    dir.folder("Outside");
    const auto report = run(planOf({root}, {removalOf(copy, root, {keeper})}), std::make_shared<FileManagerTrasher>());
    ASSERT_TRUE(report && report->moved() == 1);
    std::filesystem::rename(root + "/Copies", root + "/Copies-moved");
    std::filesystem::create_directory_symlink(dir / "Outside", root + "/Copies");

    const auto outcome = Restorer::restore(report->items.front(), report->journalPath);
    EXPECT_EQ(outcome.kind, RestoreOutcome::Kind::failed);
    EXPECT_NE(outcome.text.find("was replaced with a link"), std::string::npos) << outcome.text;
    EXPECT_FALSE(exists(dir / "Outside/a.jpg"));
    EXPECT_TRUE(exists(*report->items.front().outcome.trashPath)) << "it stays in the Trash";
}

} // namespace
} // namespace vp
