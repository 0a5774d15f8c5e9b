// Replacing videos with verified HEVC copies: the swap, its journal, stopping, refusals,
// copies that fail their check, recovery after an interruption and putting originals back.
#include "MediaFixtures.h"

#include "platform/FileLock.h"
#include "platform/media/Movies.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

using testing::candidateFor;
using testing::detailedClip;
using testing::namesIn;

inline void PrintTo(const CompressionOutcome& outcome, std::ostream* out) {
    *out << outcome.word() << " (" << outcome.reason << outcome.originalInTrash << ")";
}

class VideoCompressorTest : public ::testing::Test {
protected:
    testing::TempDir temp;
    testing::TemporaryHome home{temp.folder("home")};
    std::string root = temp.folder("videos");
    VideoCompressor compressor{temp.folder("data"), std::make_shared<FileManagerTrasher>()};

    CompressionPlan planOf(const std::vector<std::string>& paths) const {
        std::vector<VideoItem> videos;
        for (const auto& path : paths) videos.push_back(candidateFor(path, root));
        return CompressionPlan(videos, {root}, std::chrono::system_clock::now());
    }
};

TEST_F(VideoCompressorTest, StoppingDuringTheSecondOfThree) {
    const auto plan = planOf({detailedClip(root + "/a.mp4"), detailedClip(root + "/b.mov"), detailedClip(root + "/c.mp4")});
    const auto originalA = *FileSnapshot::read(root + "/a.mp4");
    CancellationFlag cancel;
    std::vector<CompressionProgress> seen;
    const auto report = compressor.compress(plan, {plan.id}, cancel, [&](const CompressionProgress& progress) {
        seen.push_back(progress);
        if (progress.done == 1 && progress.current > 0) cancel.cancel();
    });
    ASSERT_TRUE(report);
    ASSERT_EQ(report->items.size(), 3u);
    EXPECT_EQ(report->items[0].outcome.kind, CompressionOutcome::Kind::compressed);
    EXPECT_EQ(report->items[1].outcome, CompressionOutcome::skipped(std::string(VideoCompressor::stoppedDuring)));
    EXPECT_EQ(report->items[2].outcome, CompressionOutcome::skipped(std::string(VideoCompressor::stoppedBefore)));
    EXPECT_GT(report->saved(), 0);

    // The copy has the original's name and date; the original and the stopped copy are in the Trash.
    const auto facts = Movies::read(root + "/a.mp4");
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->codec, "hvc1");
    EXPECT_EQ(FileSnapshot::read(root + "/a.mp4")->modifiedSeconds, originalA.modifiedSeconds);
    EXPECT_EQ(namesIn(root), (std::vector<std::string>{"a.mp4", "b.mov", "c.mp4"}));
    const auto trashed = FileSnapshot::read(report->items[0].outcome.originalInTrash);
    ASSERT_TRUE(trashed);
    EXPECT_EQ(trashed->identity, originalA.identity);
    EXPECT_EQ(namesIn(home.trashFiles()).size(), 2u);

    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().done, 3);
    EXPECT_EQ(seen.back().bytesDone, plan.totalBytes());

    // The journal tells the same story, and history lists it.
    const auto readBack = CompressionJournal::report(report->journalPath);
    ASSERT_TRUE(readBack);
    EXPECT_EQ(readBack->items, report->items);
    ASSERT_EQ(compressor.history().size(), 1u);
}

TEST_F(VideoCompressorTest, RefusalsLeaveNoJournal) {
    const auto plan = planOf({detailedClip(root + "/a.mp4")});
    CancellationFlag cancel;
    const auto mismatched = compressor.compress(plan, {Uuid::random()}, cancel);
    ASSERT_FALSE(mismatched);
    EXPECT_EQ(mismatched.error().description(), "This approval is for different videos. Review them again.");
    EXPECT_TRUE(namesIn(compressor.directory).empty());

    cancel.cancel(); // nothing needs encoding to prove a plan runs once
    ASSERT_TRUE(compressor.compress(plan, {plan.id}, cancel));
    const auto again = compressor.compress(plan, {plan.id}, cancel);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().description(), "These videos were already handled once. Scan again to see what is left.");
}

TEST_F(VideoCompressorTest, FilesChangedSinceTheScanAreSkipped) {
    auto plan = planOf({detailedClip(root + "/edited.mp4"), detailedClip(root + "/linked.mp4"), detailedClip(root + "/gone.mp4")});
    testing::writeFile(root + "/edited.mp4", "edited since");
    ASSERT_EQ(::link((root + "/linked.mp4").c_str(), (temp.path() + "/other-name.mp4").c_str()), 0);
    plan.videos[1].snapshot = *FileSnapshot::read(root + "/linked.mp4"); // the scan saw the link
    ASSERT_EQ(::unlink((root + "/gone.mp4").c_str()), 0);
    CancellationFlag cancel;
    const auto report = compressor.compress(plan, {plan.id}, cancel);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->items[0].outcome.reason, VideoCompressor::changed);
    EXPECT_EQ(report->items[1].outcome.reason, VideoCompressor::hardLink);
    EXPECT_EQ(report->items[2].outcome.reason, VideoCompressor::gone);
}

TEST_F(VideoCompressorTest, CopyThatFailsItsCheckGoesToTheTrash) {
    const std::string path = detailedClip(root + "/a.mp4");
    const auto snapshot = *FileSnapshot::read(path);
    const std::string journal = CompressionJournal::pathFor(compressor.directory, Uuid::random());
    CompressionJournal::create(journal, std::chrono::system_clock::now());
    CancellationFlag cancel;
    // One byte larger than the original.
    const VideoCompressor::Job job{path, snapshot, path,
                                   [&](const std::string& copy) {
                                       testing::writeFile(copy, std::string(static_cast<std::size_t>(snapshot.size) + 1, 'x'));
                                       return std::optional<std::string>();
                                   },
                                   [&](const std::string& copy) { return VideoCompressor::verify(copy, path, snapshot.size); }};
    const auto outcome = compressor.replaceOne(job, {root}, journal, cancel);
    EXPECT_EQ(outcome, CompressionOutcome::failed("The compressed copy was not smaller, so the original was kept."));
    EXPECT_EQ(namesIn(root), std::vector<std::string>{"a.mp4"});
    EXPECT_EQ(FileSnapshot::read(path)->identity, snapshot.identity);
    EXPECT_EQ(namesIn(home.trashFiles()).size(), 1u);
}

TEST(VideoCompressorVerify, ToleranceOnLengthAndLostSound) {
    const testing::TempDir temp;
    using testing::makeClip;
    const auto clip = [&](const char* name, double seconds, bool sound = false) {
        return makeClip(temp / name, {.width = 64, .height = 48, .seconds = seconds, .frameRate = 10, .sound = sound});
    };
    const std::int64_t huge = std::int64_t{1} << 40;
    // 0.9 s short of 100 s is within 1%; 0.6 s short of 20 s is beyond 0.5 s.
    EXPECT_FALSE(VideoCompressor::verify(clip("99.mp4", 99.1), clip("100.mp4", 100.0), huge));
    EXPECT_EQ(VideoCompressor::verify(clip("19.mp4", 19.4), clip("20.mp4", 20.0), huge),
              "The compressed copy is not as long as the original.");
    EXPECT_EQ(VideoCompressor::verify(clip("quiet.mp4", 2.0), clip("loud.mp4", 2.0, true), huge),
              "The compressed copy lost its sound.");
    EXPECT_EQ(VideoCompressor::verify(temp.write("empty.mp4", ""), temp / "100.mp4", huge), "The compressed copy was empty.");
    EXPECT_EQ(VideoCompressor::verify(temp.write("junk.mp4", "junk"), temp / "100.mp4", huge),
              "The compressed copy could not be read back.");
    EXPECT_EQ(VideoCompressor::verify(makeClip(temp / "voice.mp4", {.video = "none"}), temp / "loud.mp4", huge),
              "The compressed copy has no picture.");
}

TEST_F(VideoCompressorTest, RecoverySettlesEachInterruptionOnce) {
    const std::string intact = detailedClip(root + "/intact.mp4");
    const std::string temporary = root + "/.intact.mp4.pristelphoto-00000000.mp4";
    testing::writeFile(temporary, "half a copy");
    const std::string journal = CompressionJournal::pathFor(compressor.directory, Uuid::random());
    CompressionJournal::create(journal, std::chrono::system_clock::now());
    using Entry = CompressionJournal::Entry;
    CompressionJournal::append(journal, {Entry::Step::intent, intact, temporary,
                                         std::nullopt, 1234, std::nullopt, std::chrono::system_clock::now(), intact});
    const auto recovered = compressor.recoverInterrupted();
    ASSERT_EQ(recovered.size(), 1u);
    ASSERT_EQ(recovered[0].items.size(), 1u);
    EXPECT_EQ(recovered[0].items[0].outcome, CompressionOutcome::failed(std::string(VideoCompressor::interruptedBefore)));
    EXPECT_EQ(recovered[0].items[0].outcome.word(), "Not compressed");
    EXPECT_EQ(namesIn(root), std::vector<std::string>{"intact.mp4"});
    EXPECT_EQ(namesIn(home.trashFiles()).size(), 1u);
    EXPECT_TRUE(compressor.recoverInterrupted().empty());
}

TEST_F(VideoCompressorTest, RecoveryLeavesARunThatIsAliveAlone) {
    const std::string original = detailedClip(root + "/busy.mp4");
    const std::string temporary = root + "/.busy.mp4.pristelphoto-00000001.mp4";
    testing::writeFile(temporary, "being written right now");
    const std::string journal = CompressionJournal::pathFor(compressor.directory, Uuid::random());
    CompressionJournal::create(journal, std::chrono::system_clock::now());
    using Entry = CompressionJournal::Entry;
    CompressionJournal::append(journal, {Entry::Step::intent, original, temporary, std::nullopt, 1, std::nullopt,
                                         std::chrono::system_clock::now(), original});
    {
        const auto running = FileLock::tryExclusive(journal); // as the running compression holds it
        ASSERT_TRUE(running.lock);
        EXPECT_TRUE(compressor.recoverInterrupted().empty());
        EXPECT_TRUE(FileSnapshot::read(temporary));
    }
    EXPECT_EQ(compressor.recoverInterrupted().size(), 1u); // once the process is gone
}

TEST_F(VideoCompressorTest, PutBackAndAnEditedCopy) {
    const auto plan = planOf({detailedClip(root + "/a.mp4"), detailedClip(root + "/b.mp4")});
    const auto originalA = *FileSnapshot::read(root + "/a.mp4");
    CancellationFlag cancel;
    const auto report = compressor.compress(plan, {plan.id}, cancel);
    ASSERT_TRUE(report);
    for (const auto& item : report->items) ASSERT_EQ(item.outcome.kind, CompressionOutcome::Kind::compressed) << item.outcome.reason;

    EXPECT_FALSE(compressor.restoreOriginal(report->items[0], *report));
    EXPECT_EQ(FileSnapshot::read(root + "/a.mp4")->identity, originalA.identity);
    EXPECT_EQ(compressor.restoreOriginal(report->items[0], *report), "The original is no longer in the Trash.");

    testing::writeFile(root + "/b.mp4", "the person trimmed the copy");
    EXPECT_EQ(compressor.restoreOriginal(report->items[1], *report),
              "The compressed copy was changed since, so it was left alone.");
    EXPECT_TRUE(FileSnapshot::read(report->items[1].outcome.originalInTrash));

    const auto readBack = CompressionJournal::report(report->journalPath);
    ASSERT_TRUE(readBack);
    EXPECT_EQ(readBack->items[0].outcome.word(), "Original back");
    EXPECT_EQ(readBack->items[1].outcome.kind, CompressionOutcome::Kind::compressed);
}

TEST(CompressionRecords, OutcomeJsonHasOneKeyPerCase) {
    EXPECT_EQ(encodeJson(CompressionOutcome::compressed(10, "/t/a.mp4")).dump(),
              R"({"compressed":{"newSize":10,"originalInTrash":"/t/a.mp4"}})");
    EXPECT_EQ(encodeJson(CompressionOutcome::failed("Why.")).dump(), R"({"failed":{"_0":"Why."}})");
    EXPECT_EQ(encodeJson(CompressionOutcome::originalRestored()).dump(), R"({"originalRestored":{}})");
    for (const auto& outcome : {CompressionOutcome::compressed(10, "/t/\xff.mp4"), CompressionOutcome::skipped("S."),
                                CompressionOutcome::originalRestored()})
        EXPECT_EQ(decodeJsonText<CompressionOutcome>(encodeJson(outcome).dump()).value(), outcome);
    using Entry = CompressionJournal::Entry;
    EXPECT_EQ(encodeJson(Entry{Entry::Step::done, "/v/a.mp4", {}, {}, {}, CompressionOutcome::skipped("S."), {}, {}}).dump(),
              R"({"step":"done","path":"/v/a.mp4","outcome":{"skipped":{"_0":"S."}}})");
}

} // namespace
} // namespace vp
