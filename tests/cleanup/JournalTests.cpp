#include "CleanupFixtures.h"

#include "engine/cleanup/CleanupJournal.h"
#include "engine/cleanup/TrashLocation.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vp {
namespace {

using Entry = CleanupJournal::Entry;
using testing::planOf;
using testing::removalOf;

class Journal : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto* name : {"a.jpg", "b.jpg", "c.jpg"}) {
            const std::string keeper = dir.write(std::string("Photos/Keep/") + name, name);
            removals.push_back(removalOf(dir.write(std::string("Photos/") + name, name), root, {keeper}));
        }
        plan = planOf({root}, removals);
    }
    /// A journal as a run that stopped after the given entries would leave it.
    std::string interrupted(const std::vector<Entry>& entries) {
        CleanupJournal journal(plan, folder);
        for (const auto& entry : entries) journal.write(entry);
        return journal.url();
    }
    static void appendRaw(const std::string& url, std::string_view bytes) {
        std::ofstream file(url, std::ios::app | std::ios::binary);
        file << bytes;
    }

    testing::TempDir dir;
    testing::TemporaryHome home{dir / "home"};
    std::string root = dir / "Photos";
    std::string folder = dir / "data/Cleanups";
    std::vector<PlannedRemoval> removals;
    CleanupPlan plan;
    Timestamp at = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1};
};

TEST_F(Journal, ATornLastLineIsSkippedAndEndedBeforeTheNextEntry) {
    const std::string url = interrupted({Entry::outcomeEntry(removals[0].path, ItemOutcome::skipped("Kept."), at)});
    appendRaw(url, R"({"kind":"outcome","itemID":")" + removals[1].path + R"(","outc)");
    const auto before = CleanupJournal::parse(url);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->outcomes.size(), 1u);

    CleanupJournal::note(removals[1].path, "A note.", url);
    const auto text = testing::readFile(url);
    EXPECT_NE(text.find("\"outc\n{"), std::string::npos) << "the torn line ends where it stopped";
    const auto after = CleanupJournal::parse(url);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->notes.at(removals[1].path), std::vector<std::string>{"A note."});
    EXPECT_EQ(after->outcomes.size(), 1u);
}

TEST_F(Journal, AnIntentWithoutOutcomeReadsAsCheckByHand) {
    const std::string url = interrupted({Entry::intent(removals[0].path, at)});
    const auto report = CleanupJournal::report(url);
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->finished);
    EXPECT_EQ(report->items[0].outcome, ItemOutcome::unknown("The app stopped while moving this picture."));
    EXPECT_EQ(report->items[0].outcome.word(), "Check by hand");
    for (std::size_t i = 1; i < 3; ++i)
        EXPECT_EQ(report->items[i].outcome, ItemOutcome::skipped("Not attempted: the cleanup stopped before reaching it."));
    EXPECT_EQ(report->items[1].at, report->started);
    EXPECT_EQ(CleanupJournal::unfinished(folder), std::vector<std::string>{url});
}

struct WhereCase {
    const char* name;
    enum { inPlace, inHomeTrash, nowhere } where;
    ItemOutcome::Kind kind;
    const char* text;
};

void PrintTo(const WhereCase& given, std::ostream* out) { *out << given.name; }

class Reconciling : public Journal, public ::testing::WithParamInterface<WhereCase> {};

TEST_P(Reconciling, RecordsWhereThePictureIsAndClosesTheJournal) {
    const auto& given = GetParam();
    const std::string url = interrupted({Entry::outcomeEntry(removals[2].path, ItemOutcome::skipped("Earlier."), at),
                                         Entry::intent(removals[0].path, at)});
    std::string trashed;
    if (given.where != WhereCase::inPlace) {
        // The file under another name, as a trash gives it, with the planned identity.
        trashed = dir.folder("home/.local/share/Trash/files") + "/a.2.jpg";
        ASSERT_EQ(::rename(removals[0].path.c_str(), trashed.c_str()), 0);
        if (given.where == WhereCase::nowhere) {
            ASSERT_EQ(::rename(trashed.c_str(), (dir / "hidden.jpg").c_str()), 0);
        }
    }

    const auto report = CleanupJournal::reconcile(url);
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->reconciled);
    EXPECT_TRUE(report->finished);
    EXPECT_EQ(report->items[0].outcome.kind, given.kind);
    if (given.where == WhereCase::inHomeTrash)
        EXPECT_EQ(report->items[0].outcome.trashPath, trashed);
    else
        EXPECT_EQ(report->items[0].outcome.text, given.text);
    EXPECT_EQ(report->items[1].outcome, ItemOutcome::skipped("Not attempted: the cleanup stopped before reaching it."));
    EXPECT_EQ(report->items[2].outcome, ItemOutcome::skipped("Earlier.")) << "settled pictures keep their outcome";
    EXPECT_TRUE(CleanupJournal::unfinished(folder).empty());

    const std::string written = testing::readFile(url);
    const auto again = CleanupJournal::reconcile(url);
    EXPECT_EQ(testing::readFile(url), written) << "a second reconcile writes nothing";
    ASSERT_TRUE(again);
    EXPECT_EQ(again->items, report->items);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Reconciling,
    ::testing::Values(WhereCase{"StillInPlace", WhereCase::inPlace, ItemOutcome::Kind::skipped,
                                "The app stopped before moving it; it is still in place."},
                      WhereCase{"InTheHomeTrash", WhereCase::inHomeTrash, ItemOutcome::Kind::movedToTrash, nullptr},
                      WhereCase{"Nowhere", WhereCase::nowhere, ItemOutcome::Kind::unknown,
                                "The app stopped while moving this picture. It is no longer in its folder and was not "
                                "found in the Trash this app can see \u2014 look in the Trash."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Journal, HistoryReadsOnlyJournalsNewestFirst) {
    const std::string older = interrupted({});
    const std::string stem = lastPathComponent(older).substr(0, lastPathComponent(older).size() - 6);
    dir.write("data/Cleanups/" + stem + ".json", testing::readFile(older));
    dir.write("data/Cleanups/notes.jsonl", testing::readFile(older));
    dir.write("data/Cleanups/cleanup-damaged.jsonl", "{\"kind\":\"plan\",\"at\":\"2024-05-01T00:00:00Z\"}\n");

    // A newer run whose file name sorts first.
    auto newer = plan;
    newer.id = *Uuid::parse("00000000-0000-4000-8000-000000000000");
    {
        CleanupJournal journal(newer, folder);
    }
    // Its start is later than the first one's by construction of the line, not of the name.
    const std::string newerUrl = CleanupJournal::pathFor(folder, newer.id);
    auto lines = split(testing::readFile(newerUrl), '\n');
    auto first = Json::parse(lines[0]);
    first["at"] = "2099-01-01T00:00:00Z";
    testing::writeFile(newerUrl, first.dump() + "\n");

    const auto history = CleanupJournal::history(folder);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].planID, newer.id);
    EXPECT_EQ(history[1].planID, plan.id);
    EXPECT_TRUE(CleanupJournal::history(dir / "nowhere").empty());
}

TEST_F(Journal, EntriesAreOneLineEachInTheAgreedForm) {
    const std::string url = interrupted({Entry::outcomeEntry(removals[0].path, ItemOutcome::movedToTrash(std::nullopt), at),
                                         Entry::outcomeEntry(removals[1].path, ItemOutcome::failed("No."), at)});
    const auto lines = split(testing::readFile(url), '\n');
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], R"({"kind":"outcome","itemID":")" + removals[0].path +
                            R"(","outcome":{"movedToTrash":{}},"at":"2024-05-01T00:00:00Z"})");
    EXPECT_EQ(Json::parse(lines[2])["outcome"], Json::parse(R"({"failed":{"_0":"No."}})"));
    EXPECT_EQ(lines[3], "");
}

TEST_F(Journal, AJournalCutAfterItsPlanLineStillFindsTheMovedPicturesInTheTrash) {
    const std::string url = interrupted({});
    FileManagerTrasher trasher;
    const auto first = trasher.trash(removals[0].path);
    const auto second = trasher.trash(removals[2].path);

    const auto report = CleanupJournal::reconcile(url);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->items[0].outcome, ItemOutcome::movedToTrash(first));
    EXPECT_EQ(report->items[1].outcome, ItemOutcome::skipped(std::string(CleanupJournal::notAttempted)));
    EXPECT_EQ(report->items[2].outcome, ItemOutcome::movedToTrash(second));
    EXPECT_EQ(report->moved(), 2);

    // Read again later, the journal still says it was settled after an interruption.
    const auto history = CleanupJournal::history(folder);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_TRUE(history[0].reconciled);
    EXPECT_EQ(history[0].items, report->items);
}

TEST_F(Journal, ReconcilingRemovesTheTrashRecordOfAMoveThatNeverHappened) {
    const std::string url = interrupted({Entry::intent(removals[0].path, at)});
    // Killed after writing the record and before the rename; and a record of someone else's.
    dir.write("home/.local/share/Trash/info/a.jpg.trashinfo",
              "[Trash Info]\nPath=" + removals[0].path + "\nDeletionDate=2024-05-01T10:00:00\n");
    dir.write("home/.local/share/Trash/info/other.jpg.trashinfo",
              "[Trash Info]\nPath=/somewhere/else/other.jpg\nDeletionDate=2024-05-01T10:00:00\n");
    dir.folder("home/.local/share/Trash/files");

    const auto report = CleanupJournal::reconcile(url);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->items[0].outcome, ItemOutcome::skipped(std::string(CleanupJournal::stillInPlace)));
    EXPECT_FALSE(FileSnapshot::read(home.trash() + "/info/a.jpg.trashinfo"));
    EXPECT_TRUE(FileSnapshot::read(home.trash() + "/info/other.jpg.trashinfo")) << "only this cleanup's records";
}

TEST_F(Journal, WhatIsNotARegularFileInTheJournalFolderIsPassedOverWithoutWaiting) {
    ::alarm(30); // a reader blocked on a FIFO would otherwise wait for ever
    interrupted({});
    const std::string fifo = CleanupJournal::pathFor(folder, Uuid::random());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string endless = CleanupJournal::pathFor(folder, Uuid::random());
    ASSERT_EQ(::symlink("/dev/zero", endless.c_str()), 0);

    EXPECT_EQ(CleanupJournal::history(folder).size(), 1u);
    EXPECT_EQ(CleanupJournal::unfinished(folder).size(), 1u);
    for (const auto& url : {fifo, endless}) {
        EXPECT_FALSE(CleanupJournal::parse(url));
        EXPECT_FALSE(CleanupJournal::reconcile(url));
        EXPECT_THROW(CleanupJournal::note(removals[0].path, "A note.", url), JournalError);
    }
    ::alarm(0);
}

} // namespace
} // namespace vp
