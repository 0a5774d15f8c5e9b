#include "CleanupFixtures.h"

#include "engine/cleanup/CleanupJournal.h"
#include "engine/cleanup/Restorer.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>

namespace vp {
namespace {

using testing::planOf;
using testing::removalOf;

/// A real cleanup of one picture, whose report item is then put back.
class PuttingBack : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string keeper = dir.write("Photos/Keep/photo.jpg", "bytes");
        original = dir.write("Photos/Trip/photo.jpg", "bytes");
        const auto plan = planOf({root}, {removalOf(original, root, {keeper})});
        const CleanupExecutor executor(dir / "Cleanups", std::make_shared<FileManagerTrasher>());
        const auto report = executor.execute(plan, plan.approve(plan.created), cancel);
        ASSERT_TRUE(report);
        item = report->items.at(0);
        journal = report->journalPath;
        ASSERT_EQ(item.outcome.kind, ItemOutcome::Kind::movedToTrash);
    }
    ItemReport reread() const { return CleanupJournal::report(journal)->items.at(0); }

    testing::TempDir dir;
    testing::TemporaryHome home{dir / "home"};
    std::string root = dir / "Photos";
    CancellationFlag cancel;
    std::string original, journal;
    ItemReport item;
};

TEST_F(PuttingBack, TwiceRestoresOnceAndNotesTheSecondTry) {
    EXPECT_EQ(Restorer::restore(item, journal), RestoreOutcome::restored(original));
    EXPECT_EQ(FileSnapshot::read(original)->identity, item.removal.snapshot.identity);
    EXPECT_FALSE(FileSnapshot::read(home.trash() + "/info/photo.jpg.trashinfo")) << "the Trash no longer lists it";
    EXPECT_EQ(reread().outcome.word(), "Put back");

    EXPECT_EQ(Restorer::restore(item, journal), RestoreOutcome::notInTrash());
    const auto notes = reread().notes;
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_TRUE(startsWith(notes[0], "Put Back tried ")) << notes[0];
    // Dated in full, in ISO 8601's order, whatever the locale: never a year of two digits.
    EXPECT_TRUE(std::regex_search(notes[0], std::regex("^Put Back tried [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}: ")))
        << notes[0];
    EXPECT_TRUE(endsWith(notes[0], ": it is not in the Trash any more (emptied, or put back another way)."));
}

TEST_F(PuttingBack, NeverOverwritesWhatIsNowThere) {
    testing::writeFile(original, "a new picture saved meanwhile");
    EXPECT_EQ(Restorer::restore(item, journal), RestoreOutcome::occupied(original));
    EXPECT_EQ(testing::readFile(original), "a new picture saved meanwhile");
    EXPECT_TRUE(FileSnapshot::read(*item.outcome.trashPath)) << "still in the Trash";
    const auto notes = reread().notes;
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_TRUE(startsWith(notes[0], "Put Back refused "));
    EXPECT_TRUE(endsWith(notes[0], ": something else is now at " + original + ", and it is never overwritten."));

    const std::string beside = Restorer::alternativePath(original);
    EXPECT_EQ(beside, dir / "Photos/Trip/photo (restored).jpg");
    EXPECT_EQ(Restorer::restore(item, journal, beside), RestoreOutcome::restored(beside));
    EXPECT_EQ(reread().outcome, ItemOutcome::restored(beside));
}

TEST_F(PuttingBack, AFolderThatIsGoneIsNamed) {
    std::filesystem::remove_all(dir / "Photos/Trip");
    const std::string folder = dir / "Photos/Trip";
    EXPECT_EQ(Restorer::restore(item, journal),
              RestoreOutcome::failed("Its folder, " + folder + ", is not there any more \u2014 perhaps its drive is not connected"));
    const auto notes = reread().notes;
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_TRUE(startsWith(notes[0], "Put Back failed "));
    EXPECT_TRUE(endsWith(notes[0], ". It is still in the Trash."));
}

TEST_F(PuttingBack, OnlyTheMovedFileComesBackAndOnlyWhenAsked) {
    // Another file under the moved one's name in the Trash is not the picture.
    const std::string trashPath = *item.outcome.trashPath;
    ASSERT_EQ(::rename(trashPath.c_str(), (dir / "elsewhere.jpg").c_str()), 0);
    testing::writeFile(trashPath, "bytes");
    EXPECT_EQ(Restorer::restore(item, std::nullopt), RestoreOutcome::notInTrash());
    EXPECT_FALSE(FileSnapshot::read(original));
    EXPECT_TRUE(reread().notes.empty()) << "no journal given, nothing written";

    auto skipped = item;
    skipped.outcome = ItemOutcome::skipped("Changed since the scan. Scan again to review it.");
    skipped.outcome.trashPath = trashPath;
    EXPECT_EQ(Restorer::restore(skipped, journal), RestoreOutcome::notInTrash());
    EXPECT_FALSE(FileSnapshot::read(original));
}

TEST(AlternativePath, CountsUpAndAddsNoDotWithoutExtension) {
    testing::TempDir dir;
    dir.write("photo (restored).jpg", "");
    EXPECT_EQ(Restorer::alternativePath(dir / "photo.jpg"), dir / "photo (restored 2).jpg");
    EXPECT_EQ(Restorer::alternativePath(dir / "README"), dir / "README (restored)");
}

} // namespace
} // namespace vp
