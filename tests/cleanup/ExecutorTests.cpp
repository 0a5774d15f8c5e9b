#include "CleanupFixtures.h"

#include "engine/cleanup/TrashLocation.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vp {
namespace {

using testing::evidence;
using testing::planOf;
using testing::removalOf;

class Executing : public testing::CleanupFolders {
protected:
    /// A keeper under Keep/ and its copy under Copies/, byte for byte the same.
    std::pair<std::string, std::string> copies(const std::string& name, const std::string& content = "picture bytes") {
        return {dir.write("Photos/Keep/" + name, content), dir.write("Photos/Copies/" + name, content)};
    }
};

TEST_F(Executing, MovesEachCopyIntoTheDesktopTrashAndJournalsEveryStep) {
    const auto [keepA, copyA] = copies("a.jpg", "first");
    const auto [keepB, copyB] = copies("b.jpg", "second");
    const auto plan = planOf({root}, {removalOf(copyA, root, {keepA}), removalOf(copyB, root, {keepB})});
    std::vector<std::int64_t> progress;
    const CleanupExecutor executor(journals, std::make_shared<FileManagerTrasher>());
    const auto report = executor.execute(plan, plan.approve(plan.created), cancel,
                                         [&](std::int64_t handled) { progress.push_back(handled); });
    ASSERT_TRUE(report) << report.error().description();

    EXPECT_EQ(progress, (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(report->moved(), 2);
    EXPECT_EQ(report->movedBytes(), 11);
    EXPECT_TRUE(report->finished);
    EXPECT_FALSE(report->reconciled);
    EXPECT_EQ(report->journalPath, journals + "/cleanup-" + plan.id.text() + ".jsonl");
    for (const auto& item : report->items) {
        ASSERT_TRUE(item.outcome.trashPath);
        EXPECT_EQ(*item.outcome.trashPath, home.trashFiles() + "/" + lastPathComponent(item.removal.path));
        EXPECT_EQ(FileSnapshot::read(*item.outcome.trashPath)->identity, item.removal.snapshot.identity);
        EXPECT_FALSE(exists(item.removal.path));
    }
    EXPECT_TRUE(exists(keepA) && exists(keepB));

    // plan, then intent and outcome per picture, then finished: each its own line.
    const auto lines = split(testing::readFile(report->journalPath), '\n');
    std::vector<std::string> kinds;
    for (const auto& line : lines)
        if (!line.empty()) kinds.push_back(Json::parse(line)["kind"]);
    EXPECT_EQ(kinds, (std::vector<std::string>{"plan", "intent", "outcome", "intent", "outcome", "finished"}));
    struct stat status {};
    ASSERT_EQ(::stat(report->journalPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

struct RefusalCase {
    const char* name;
    std::function<void(CleanupPlan&)> alter;
    ExecutionRefusal::Kind refusal;
};

void PrintTo(const RefusalCase& given, std::ostream* out) { *out << given.name; }

class ExecutionRefused : public Executing, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ExecutionRefused, BeforeAnythingIsCheckedOrWritten) {
    const auto [keep, copy] = copies("a.jpg");
    auto plan = planOf({root}, {removalOf(copy, root, {keep})});
    GetParam().alter(plan);
    const CleanupExecutor executor(journals, std::make_shared<FileManagerTrasher>());
    // The same pictures under another plan's id: an approval never transfers.
    auto twin = plan;
    twin.id = Uuid::random();
    const auto approval = GetParam().refusal == ExecutionRefusal::Kind::approvalDoesNotMatch ? twin.approve(plan.created)
                                                                                             : plan.approve(plan.created);
    const auto result = executor.execute(plan, approval, cancel);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, GetParam().refusal);
    EXPECT_TRUE(exists(copy));
    EXPECT_FALSE(exists(journals)) << "a refusal leaves no trace";
}

PlannedRemoval catalogRemoval(std::function<void(PlannedRemoval&)> set) {
    PlannedRemoval removal;
    removal.path = "/elsewhere/x.jpg";
    set(removal);
    return removal;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExecutionRefused,
    ::testing::Values(
        RefusalCase{"ApprovalForAnotherPlan", [](CleanupPlan&) {}, ExecutionRefusal::Kind::approvalDoesNotMatch},
        RefusalCase{"OneLightroomPicture",
                    [](CleanupPlan& plan) {
                        plan.removals.push_back(catalogRemoval([](auto& r) { r.lightroomImageID = 7; }));
                    },
                    ExecutionRefusal::Kind::lightroomPhotos},
        RefusalCase{"LibraryBeforeCaptureOne",
                    [](CleanupPlan& plan) {
                        plan.removals.push_back(catalogRemoval([](auto& r) { r.captureOneImageID = 3; }));
                        plan.removals.push_back(catalogRemoval([](auto& r) { r.path = "photos-library:ID/L0/001"; }));
                    },
                    ExecutionRefusal::Kind::libraryPhotos}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Executing, APlanRunsOnlyOnce) {
    const auto [keep, copy] = copies("a.jpg");
    const auto plan = planOf({root}, {removalOf(copy, root, {keep})});
    ASSERT_TRUE(run(plan));
    const auto again = run(plan);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().description(), "These pictures were already handled once. Scan again to review what is left.");
}

TEST_F(Executing, WithoutAJournalNothingMoves) {
    const auto [keep, copy] = copies("a.jpg");
    journals = dir.write("data", "a file where the folder should be") + "/Cleanups";
    const auto result = run(planOf({root}, {removalOf(copy, root, {keep})}));
    ASSERT_FALSE(result);
    EXPECT_TRUE(startsWith(result.error().description(),
                           "The cleanup record could not be written, so nothing was moved: Not a directory"))
        << result.error().description();
    EXPECT_TRUE(exists(copy));
}

// ---- What may have happened between the scan and the cleanup

struct Pictures {
    std::string root, copy, keeper, otherKeeper, outside;
};

struct AttackCase {
    const char* name;
    MatchKind kind;
    std::function<void(const Pictures&)> attack;
    const char* sentence; // null: the picture still moves
};

void PrintTo(const AttackCase& given, std::ostream* out) { *out << given.name; }

class BetweenScanAndCleanup : public Executing, public ::testing::WithParamInterface<AttackCase> {};

/// New contents of the same size with the old modification time put back.
void rewriteKeepingTimes(const std::string& path, const std::string& content) {
    struct stat before {};
    ::stat(path.c_str(), &before);
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, content.data(), content.size(), 0), static_cast<ssize_t>(content.size()));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ::futimens(fd, times);
    ::close(fd);
}

void touchLater(const std::string& path) {
    const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

TEST_P(BetweenScanAndCleanup, SkipsWithItsSentenceAndMovesNothingElse) {
    const auto& given = GetParam();
    Pictures p{root, dir.write("Photos/Trip/a.jpg", "12345678"), dir.write("Photos/Keep/a.jpg", "12345678"),
               dir.write("Photos/Keep/b.jpg", "12345678"), dir.write("Outside/a.jpg", "12345678")};
    const auto plan = planOf({root}, {removalOf(p.copy, root, {p.keeper, p.otherKeeper}, given.kind)});
    given.attack(p);

    const auto report = run(plan);
    ASSERT_TRUE(report) << report.error().description();
    const auto& outcome = report->items.at(0).outcome;
    if (!given.sentence) {
        EXPECT_EQ(outcome.kind, ItemOutcome::Kind::movedToTrash) << outcome.text;
    } else {
        EXPECT_EQ(outcome, ItemOutcome::skipped(given.sentence));
        EXPECT_FALSE(exists(home.trashFiles() + "/a.jpg"));
    }
    EXPECT_TRUE(exists(p.outside)) << "nothing outside the chosen folders moves";
}

const char* const exactGone = "No unchanged identical copy is left to keep (the kept copies are changed, missing). Scan again.";

INSTANTIATE_TEST_SUITE_P(
    Cases, BetweenScanAndCleanup,
    ::testing::Values(
        AttackCase{"Untouched", MatchKind::identical, [](const Pictures&) {}, nullptr},
        AttackCase{"FolderOnTheWayBecameALink", MatchKind::identical,
                   [](const Pictures& p) {
                       // The same file, now reached through a link to a folder outside.
                       ASSERT_EQ(::rename((p.root + "/Trip").c_str(), (p.root + "/../Outside/Trip").c_str()), 0);
                       ASSERT_EQ(::symlink("../Outside/Trip", (p.root + "/Trip").c_str()), 0);
                   },
                   "A folder on the way to it was replaced with an alias since the scan."},
        AttackCase{"PictureBecameALinkToAnIdenticalFile", MatchKind::identical,
                   [](const Pictures& p) {
                       ASSERT_EQ(::unlink(p.copy.c_str()), 0);
                       ASSERT_EQ(::symlink(p.outside.c_str(), p.copy.c_str()), 0);
                   },
                   "Replaced with an alias since the scan."},
        AttackCase{"PictureGainedAHardLink", MatchKind::identical,
                   [](const Pictures& p) { ASSERT_EQ(::link(p.copy.c_str(), (p.root + "/second-name.jpg").c_str()), 0); },
                   "Now has another name on disk (a hard link), so moving it would free nothing."},
        AttackCase{"PictureEdited", MatchKind::identical, [](const Pictures& p) { touchLater(p.copy); },
                   "Changed since the scan. Scan again to review it."},
        AttackCase{"OneKeeperLeft", MatchKind::identical, [](const Pictures& p) { ::unlink(p.keeper.c_str()); }, nullptr},
        AttackCase{"KeeperDeletedOtherEdited", MatchKind::identical,
                   [](const Pictures& p) {
                       ::unlink(p.keeper.c_str());
                       touchLater(p.otherKeeper);
                   },
                   exactGone},
        AttackCase{"KeepersEditedBehindTheirTimes", MatchKind::identical,
                   [](const Pictures& p) {
                       rewriteKeepingTimes(p.keeper, "87654321");
                       rewriteKeepingTimes(p.otherKeeper, "x2345678");
                   },
                   "No unchanged identical copy is left to keep (the kept copies are no longer identical). Scan again."},
        AttackCase{"SimilarKeeperEditedBehindItsTimes", MatchKind::similar,
                   [](const Pictures& p) {
                       ::unlink(p.otherKeeper.c_str());
                       rewriteKeepingTimes(p.keeper, "87654321");
                   },
                   nullptr},
        AttackCase{"SimilarKeepersTouchedOrGone", MatchKind::similar,
                   [](const Pictures& p) {
                       ::unlink(p.otherKeeper.c_str());
                       touchLater(p.keeper);
                   },
                   "None of the pictures you kept from its group is still there unchanged (they are changed, missing). "
                   "Scan again."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Executing, PathsOutsideTheChosenFoldersNeverMove) {
    const std::string outside = dir.write("Outside/a.jpg", "bytes"), keeper = dir.write("Photos/a.jpg", "bytes");
    const std::string sneaky = root + "/../Outside/a.jpg";
    auto wrongRoot = removalOf(outside, dir / "Outside", {keeper});
    auto dotted = removalOf(outside, root, {keeper});
    dotted.path = sneaky;
    const auto report = run(planOf({root}, {wrongRoot, dotted}));
    ASSERT_TRUE(report);
    for (const auto& item : report->items) EXPECT_EQ(item.outcome, ItemOutcome::skipped("Outside the folders you chose."));
    EXPECT_TRUE(exists(outside));
}

TEST_F(Executing, AKeeperMovedEarlierInTheRunNoLongerCounts) {
    // B is the only keeper of A and is itself planned first, with C as its keeper.
    const std::string a = dir.write("Photos/a.jpg", "same"), b = dir.write("Photos/b.jpg", "same"),
                      c = dir.write("Photos/c.jpg", "same");
    const auto report = run(planOf({root}, {removalOf(b, root, {c}), removalOf(a, root, {b})}));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->items[0].outcome.kind, ItemOutcome::Kind::movedToTrash);
    EXPECT_EQ(report->items[1].outcome,
              ItemOutcome::skipped("No unchanged identical copy is left to keep (the kept copies are moved). Scan again."));
    EXPECT_TRUE(exists(a) && exists(c));
}

TEST_F(Executing, StopAfterThisOneRecordsEveryLaterPictureAsSkipped) {
    std::vector<PlannedRemoval> removals;
    for (const auto* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        const auto [keep, copy] = copies(name);
        removals.push_back(removalOf(copy, root, {keep}));
    }
    const auto plan = planOf({root}, removals);
    std::vector<std::int64_t> progress;
    const CleanupExecutor executor(journals, std::make_shared<FileManagerTrasher>());
    const auto report = executor.execute(plan, plan.approve(plan.created), cancel, [&](std::int64_t handled) {
        progress.push_back(handled);
        cancel.cancel();
    });
    ASSERT_TRUE(report);
    EXPECT_EQ(progress, (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(report->items[0].outcome.kind, ItemOutcome::Kind::movedToTrash);
    for (std::size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(report->items[i].outcome, ItemOutcome::skipped("Cancelled before this picture was reached."));
        EXPECT_TRUE(exists(removals[i].path));
    }
    EXPECT_TRUE(report->finished);
}

// ---- Moves the system refuses

struct FaultCase {
    int code;
    const char* sentence;
};

void PrintTo(const FaultCase& given, std::ostream* out) { *out << ::strerrorname_np(given.code); }

class RefusedMove : public Executing, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(RefusedMove, FailsThatPictureWithItsSentenceAndGoesOn) {
    const auto [keepA, copyA] = copies("a.jpg");
    const auto [keepB, copyB] = copies("b.jpg");
    const auto report = run(planOf({root}, {removalOf(copyA, root, {keepA}), removalOf(copyB, root, {keepB})}),
                            std::make_shared<testing::FailingTrasher>(GetParam().code));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->failed(), 2);
    for (const auto& item : report->items) EXPECT_EQ(item.outcome, ItemOutcome::failed(GetParam().sentence));
    EXPECT_TRUE(exists(copyA) && exists(copyB));
    EXPECT_EQ(CleanupExecutor::explain(GetParam().code), GetParam().sentence);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, RefusedMove,
    ::testing::Values(
        FaultCase{EROFS, "The drive is read-only, so nothing was moved."},
        FaultCase{ENOENT, "It disappeared before it could be moved \u2014 perhaps the drive was disconnected."},
        FaultCase{ENOTDIR, "It disappeared before it could be moved \u2014 perhaps the drive was disconnected."},
        FaultCase{EACCES, "The system would not move it to the Trash (Permission denied). It was left where it was; "
                          "nothing was deleted."},
        FaultCase{ENOSPC, "The system would not move it to the Trash (No space left on device). It was left where it "
                          "was; nothing was deleted."},
        FaultCase{EXDEV, "The system would not move it to the Trash (Invalid cross-device link). It was left where it "
                         "was; nothing was deleted."}),
    [](const auto& info) { return std::string(::strerrorname_np(info.param.code)); });

TEST_F(Executing, OnAReadOnlyVolumeEveryPictureFailsAndStaysPut) {
    const std::string volume = dir.folder("Volume");
    testing::TemporaryVolume mount(volume);
    if (!mount.mounted()) GTEST_SKIP() << "mounting a file system needs root";
    std::vector<PlannedRemoval> removals;
    for (const auto* name : {"a.jpg", "b.jpg"}) {
        const std::string keep = dir.write(std::string("Volume/Keep/") + name, "bytes");
        removals.push_back(removalOf(dir.write(std::string("Volume/") + name, "bytes"), volume, {keep}));
    }
    ASSERT_TRUE(mount.makeReadOnly());
    const auto report = run(planOf({volume}, removals));
    ASSERT_TRUE(report);
    for (const auto& item : report->items) {
        EXPECT_EQ(item.outcome, ItemOutcome::failed("The drive is read-only, so nothing was moved."));
        EXPECT_TRUE(exists(item.removal.path));
    }
}

} // namespace
} // namespace vp
