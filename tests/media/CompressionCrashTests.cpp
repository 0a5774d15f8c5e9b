// A compression killed at random moments, over and over: after recovery every video is either
// the untouched original at its path, or a verified copy there with the original in the Trash,
// or (killed between the two moves) the verified copy beside it with the original in the
// Trash, and the journal says which.
#include "MediaFixtures.h"

#include "engine/cleanup/TrashLocation.h"
#include "platform/media/Movies.h"
#include "tests/support/RandomKill.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vp {
namespace {

using Clock = std::chrono::steady_clock;

bool isVerifiedCopy(const std::string& path) {
    const auto facts = Movies::read(path);
    return facts && facts->codec == "hvc1" && Movies::decodeFully(path).decoded;
}

struct Tally {
    int runs = 0, killed = 0, withoutJournal = 0;
    int originals = 0, copies = 0, midway = 0;
};

void checkAfterKill(const CompressionPlan& plan, const VideoCompressor& compressor, Tally& tally) {
    const std::string url = CompressionJournal::pathFor(compressor.directory, plan.id);
    if (!FileSnapshot::read(url)) {
        ++tally.withoutJournal;
        for (const auto& video : plan.videos)
            ASSERT_EQ(FileSnapshot::read(video.path)->identity, video.snapshot.identity) << "changed without a journal";
        tally.originals += static_cast<int>(plan.videos.size());
        return;
    }
    compressor.recoverInterrupted();
    const auto report = CompressionJournal::report(url);
    ASSERT_TRUE(report);
    const auto folders = TrashLocation::candidates(plan.videos.front().path);
    for (const auto& video : plan.videos) {
        const auto item = std::find_if(report->items.begin(), report->items.end(),
                                       [&](const CompressionItem& i) { return i.path == video.path; });
        const auto here = FileSnapshot::read(video.path);
        const auto trashed = TrashLocation::find(video.snapshot.identity, folders);
        if (here && here->identity == video.snapshot.identity) {
            ++tally.originals;
            ASSERT_FALSE(trashed) << video.path << " is in both places";
            if (item != report->items.end()) {
                ASSERT_NE(item->outcome.kind, CompressionOutcome::Kind::compressed);
            }
        } else if (here) {
            ++tally.copies;
            ASSERT_TRUE(isVerifiedCopy(video.path)) << video.path << " holds an unverified copy";
            ASSERT_TRUE(trashed) << video.path << ": the original is nowhere";
            ASSERT_NE(item, report->items.end());
            ASSERT_EQ(item->outcome, CompressionOutcome::compressed(here->size, *trashed));
        } else {
            ++tally.midway;
            ASSERT_TRUE(trashed) << video.path << " is nowhere";
            ASSERT_NE(item, report->items.end());
            ASSERT_EQ(item->outcome.kind, CompressionOutcome::Kind::failed);
            ASSERT_TRUE(item->outcome.reason.starts_with("The app stopped mid-way. The compressed copy is at "));
        }
    }
    // Nothing hidden is left beside the videos except a copy the journal names.
    for (const auto& name : testing::namesIn(deletingLastPathComponent(plan.videos.front().path)))
        if (name.starts_with(".")) {
            const bool named = std::any_of(report->items.begin(), report->items.end(), [&](const CompressionItem& i) {
                return i.outcome.reason.find(name) != std::string::npos;
            });
            ASSERT_TRUE(named) << name << " was left behind";
        }
    const std::string settled = testing::readFile(url);
    EXPECT_TRUE(compressor.recoverInterrupted().empty());
    EXPECT_EQ(testing::readFile(url), settled) << "a second recovery changes nothing";
}

int runsWanted() {
    if (const char* runs = std::getenv("VP_CRASH_RUNS")) return std::max(1, std::atoi(runs));
    return 16;
}

TEST(CrashDuringCompression, EachVideoIsTheOriginalOrAVerifiedCopy) {
    const testing::TempDir dir;
    const std::string clips = dir.folder("clips");
    for (const char* name : {"a.mp4", "b.mov", "c.mp4"}) testing::detailedClip(clips + "/" + name, 0.6);

    Tally tally;
    Clock::duration longest{};
    for (int seed = 0; seed < runsWanted(); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(static_cast<unsigned>(seed));
        const std::string run = dir / "run";
        std::filesystem::remove_all(run);
        const testing::TemporaryHome home(dir.folder("run/home"));
        const std::string root = dir.folder("run/videos");
        std::vector<VideoItem> videos;
        for (const char* name : {"a.mp4", "b.mov", "c.mp4"}) {
            std::filesystem::copy_file(clips + "/" + name, root + "/" + name);
            videos.push_back(testing::candidateFor(root + "/" + name, root));
        }
        const CompressionPlan plan(videos, {root}, std::chrono::system_clock::now());
        const VideoCompressor compressor(run + "/data", std::make_shared<FileManagerTrasher>());

        const auto started = Clock::now();
        const pid_t child = ::fork();
        if (child == 0) {
            CancellationFlag cancel;
            ::_exit(compressor.compress(plan, {plan.id}, cancel) ? 0 : 1);
        }
        const int status = testing::waitOrKillAtRandom(child, seed, random, started, longest);
        if (seed == 0) {
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        ++tally.runs;
        if (!WIFEXITED(status)) ++tally.killed;
        checkAfterKill(plan, compressor, tally);
        if (::testing::Test::HasFatalFailure()) return;
    }
    std::printf("compression crash runs %d: killed %d (%d before the journal existed); %d originals in place, %d copies "
                "in place, %d caught between the moves; a whole run took %lld ms\n",
                tally.runs, tally.killed, tally.withoutJournal, tally.originals, tally.copies, tally.midway,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()));
}

} // namespace
} // namespace vp
