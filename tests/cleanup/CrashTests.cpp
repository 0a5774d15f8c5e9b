// A cleanup killed at random moments, over and over: after reconciling, every planned picture
// must be in exactly one place, its folder or the Trash, and the report must say which.
#include "CleanupFixtures.h"

#include "engine/cleanup/CleanupJournal.h"
#include "engine/cleanup/TrashLocation.h"
#include "tests/support/RandomKill.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vp {
namespace {

using Clock = std::chrono::steady_clock;

struct Tally {
    int runs = 0, killedBeforeJournal = 0, killedMidRun = 0, caughtInFlight = 0, finishedFirst = 0;
    std::int64_t moved = 0, leftInPlace = 0;
};

/// Pictures of `groups` groups, a keeper and two copies each, and the plan that removes the
/// copies in a shuffled order. A few copies were edited after the scan, so skips happen too.
CleanupPlan makePlan(const std::string& root, int groups, std::mt19937& random) {
    std::vector<PlannedRemoval> removals;
    for (int group = 0; group < groups; ++group) {
        const std::string content = "picture " + std::to_string(group) + std::string(200, 'x');
        const std::string folder = root + "/" + std::to_string(group % 7);
        std::filesystem::create_directories(folder);
        const std::string keeper = folder + "/keep-" + std::to_string(group) + ".jpg";
        testing::writeFile(keeper, content);
        for (int copy = 0; copy < 2; ++copy) {
            const std::string path = folder + "/copy-" + std::to_string(group) + "-" + std::to_string(copy) + ".jpg";
            testing::writeFile(path, content);
            removals.push_back(testing::removalOf(path, root, {keeper}));
        }
    }
    std::shuffle(removals.begin(), removals.end(), random);
    for (std::size_t i = 0; i < removals.size(); i += 23) {
        const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
        ::utimensat(AT_FDCWD, removals[i].path.c_str(), times, 0);
    }
    return testing::planOf({root}, std::move(removals));
}

pid_t startCleanup(const CleanupPlan& plan, const std::string& journals) {
    const pid_t child = ::fork();
    if (child == 0) {
        CancellationFlag cancel;
        const CleanupExecutor executor(journals, std::make_shared<FileManagerTrasher>());
        const auto report = executor.execute(plan, plan.approve(plan.created), cancel);
        ::_exit(report ? 0 : 1);
    }
    return child;
}

/// Every file in a Trash's files/ folder has its record in info/, and every record its file:
/// reconciling removes the record a move killed before its rename left behind.
void expectFilesAndRecordsPaired(const std::string& trash) {
    for (const bool fromFiles : {true, false}) {
        DIR* folder = ::opendir((trash + (fromFiles ? "/files" : "/info")).c_str());
        if (folder == nullptr) continue;
        while (const dirent* entry = ::readdir(folder)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            const std::string other = fromFiles ? trash + "/info/" + name + ".trashinfo"
                                                : trash + "/files/" + deletingPathExtension(name);
            EXPECT_TRUE(FileSnapshot::read(other)) << name;
        }
        ::closedir(folder);
    }
}

void checkAfterKill(const CleanupPlan& plan, const std::string& journals, const std::string& trash, Tally& tally) {
    const std::string url = CleanupJournal::pathFor(journals, plan.id);
    for (const auto& removal : plan.removals)
        for (const auto& keeper : removal.keepers) ASSERT_TRUE(FileSnapshot::read(keeper.path)) << "a keeper moved";

    const auto before = CleanupJournal::parse(url);
    if (!before) {
        ++tally.killedBeforeJournal;
        for (const auto& removal : plan.removals) ASSERT_TRUE(FileSnapshot::read(removal.path)) << "moved without a journal";
        tally.leftInPlace += static_cast<std::int64_t>(plan.removals.size());
        return;
    }
    for (const auto& id : before->intents)
        if (!before->outcomes.contains(id)) ++tally.caughtInFlight;

    const auto report = CleanupJournal::reconcile(url);
    ASSERT_TRUE(report);
    // Every picture lies on one file system, so one list of Trash folders serves them all.
    const auto folders = TrashLocation::candidates(plan.removals.front().path);
    ASSERT_EQ(report->items.size(), plan.removals.size());
    for (const auto& item : report->items) {
        const auto& removal = item.removal;
        const auto here = FileSnapshot::read(removal.path);
        const bool inPlace = here && here->identity == removal.snapshot.identity;
        const auto trashed = TrashLocation::find(removal.snapshot.identity, folders);
        ASSERT_NE(inPlace, trashed.has_value()) << removal.path << (inPlace ? " is in both places" : " is nowhere");
        if (trashed) {
            ++tally.moved;
            ASSERT_EQ(item.outcome, ItemOutcome::movedToTrash(*trashed)) << removal.path;
        } else {
            ++tally.leftInPlace;
            ASSERT_EQ(item.outcome.kind, ItemOutcome::Kind::skipped) << removal.path << ": " << item.outcome.text;
        }
    }

    expectFilesAndRecordsPaired(trash);

    const std::string settled = testing::readFile(url);
    const auto again = CleanupJournal::reconcile(url);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->items, report->items);
    EXPECT_EQ(testing::readFile(url), settled) << "a second reconcile changes nothing";
    EXPECT_TRUE(CleanupJournal::unfinished(journals).empty());
}

int runsWanted() {
    if (const char* runs = std::getenv("VP_CRASH_RUNS")) return std::max(1, std::atoi(runs));
    return 50;
}

TEST(CrashDuringCleanup, EveryPictureIsInItsFolderOrTheTrashNeverBothNeverNeither) {
    testing::TempDir dir;
    // On a private memory file system the forced writes cost nothing, so many runs fit in CI.
    const std::string base = dir.folder("volume");
    testing::TemporaryVolume volume(base, false, "size=256m");
    const int groups = volume.mounted() ? 75 : 30;

    Tally tally;
    const int runs = runsWanted();
    Clock::duration longest{};
    for (int seed = 0; seed < runs; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(static_cast<unsigned>(seed));
        const std::string run = base + "/run";
        std::filesystem::remove_all(run);
        // Odd seeds keep the home outside this file system, so the volume's own Trash is used.
        const bool homeHere = seed % 2 == 0 || !volume.mounted();
        const std::string homeFolder = homeHere ? run + "/home" : dir / ("home-" + std::to_string(seed));
        testing::TemporaryHome home(homeFolder);
        const std::string trash = homeHere ? home.trash() : base + "/.Trash-" + std::to_string(::getuid());
        std::filesystem::remove_all(base + "/.Trash-" + std::to_string(::getuid()));
        const CleanupPlan plan = makePlan(run + "/Photos", groups, random);
        const std::string journals = run + "/Cleanups";

        // The first run is never killed: it measures how long a whole cleanup takes.
        const auto started = Clock::now();
        const pid_t child = startCleanup(plan, journals);
        const int status = testing::waitOrKillAtRandom(child, seed, random, started, longest);
        if (seed == 0) {
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        ++tally.runs;
        if (WIFEXITED(status))
            ++tally.finishedFirst;
        else
            ++tally.killedMidRun;
        checkAfterKill(plan, journals, trash, tally);
        if (::testing::Test::HasFatalFailure()) return;
    }
    std::printf("crash runs %d: killed %d (%d before the journal existed), finished %d; %d pictures caught mid-move; "
                "%lld moved, %lld left in place; a whole cleanup of %d pictures took %lld ms\n",
                tally.runs, tally.killedMidRun, tally.killedBeforeJournal, tally.finishedFirst, tally.caughtInFlight,
                static_cast<long long>(tally.moved), static_cast<long long>(tally.leftInPlace), groups * 2,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()));
}

} // namespace
} // namespace vp
