// The terminal's own rules: which cleanup an argument names, what a history line says, and
// where a relative path points.
#include "app/CompressCommands.h"
#include "app/Help.h"
#include "app/TidyCommands.h"
#include "engine/common/Text.h"
#include "engine/review/KeeperPolicy.h"
#include "engine/similarity/SimilarityIndex.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

namespace vp {
namespace {

using TidyCommands::chooseCleanup;

CleanupReport withID(const std::string& id) {
    CleanupReport report;
    report.planID = *Uuid::parse(id);
    return report;
}

/// Eleven cleanups, newest first; two ids share their first eight characters, one is all digits.
std::vector<CleanupReport> history() {
    std::vector<CleanupReport> reports;
    reports.push_back(withID("1AAAAAAA-0000-4000-8000-000000000001"));
    reports.push_back(withID("12345678-0000-4000-8000-000000000002"));
    reports.push_back(withID("ABCDEF12-3456-4000-8000-000000000003"));
    reports.push_back(withID("ABCDEF12-9999-4000-8000-000000000004"));
    for (int i = 5; i <= 11; ++i) reports.push_back(withID("FFFFFF0" + std::to_string(i % 10) + "-0000-4000-8000-00000000000" + std::to_string(i % 10)));
    return reports;
}

std::string refusal(const std::variant<std::size_t, std::string>& choice) {
    const auto* text = std::get_if<std::string>(&choice);
    return text ? *text : std::string();
}

TEST(PutBackChoice, ANumberIsThePlaceInHistoryOnly) {
    const auto reports = history();
    EXPECT_EQ(std::get<std::size_t>(chooseCleanup(reports, "1")), 0u); // not the id that starts with "1"
    EXPECT_EQ(std::get<std::size_t>(chooseCleanup(reports, "2")), 1u);
    EXPECT_EQ(std::get<std::size_t>(chooseCleanup(reports, "11")), 10u);
    EXPECT_EQ(std::get<std::size_t>(chooseCleanup(reports, "011")), 10u);
    EXPECT_NE(refusal(chooseCleanup(reports, "12")).find("no cleanup 12"), std::string::npos);
    EXPECT_NE(refusal(chooseCleanup(reports, "0")).find("no cleanup 0"), std::string::npos);
    EXPECT_NE(refusal(chooseCleanup({}, "1")).find("lists 0"), std::string::npos);
}

TEST(PutBackChoice, AnIdNeedsEightCharactersAndOneMatch) {
    const auto reports = history();
    EXPECT_EQ(std::get<std::size_t>(chooseCleanup(reports, "12345678")), 1u); // eight digits: an id
    EXPECT_EQ(std::get<std::size_t>(chooseCleanup(reports, "abcdef12-3")), 2u);
    EXPECT_EQ(std::get<std::size_t>(chooseCleanup(reports, "ABCDEF12-9999-4000-8000-000000000004")), 3u);
    EXPECT_NE(refusal(chooseCleanup(reports, "ABCDEF1")).find("at least 8 characters"), std::string::npos);
    EXPECT_NE(refusal(chooseCleanup(reports, "1AAAAAA")).find("at least 8 characters"), std::string::npos);
    EXPECT_NE(refusal(chooseCleanup(reports, "ABCDEF12")).find("2 cleanups have ids that begin with ABCDEF12"),
              std::string::npos);
    EXPECT_NE(refusal(chooseCleanup(reports, "00000000")).find("No cleanup"), std::string::npos);
    EXPECT_FALSE(refusal(chooseCleanup(reports, "")).empty());
    EXPECT_NE(refusal(chooseCleanup(reports, "abc\x1b[31mdefgh")).find("\\x1b"), std::string::npos);
}

TEST(HistoryLine, ReconciledCleanupsAndPicturesToCheckByHandAreSaid) {
    CleanupReport report = withID("ABCDEF12-3456-4000-8000-000000000003");
    report.items.resize(4);
    report.items[0].outcome = ItemOutcome::movedToTrash(std::nullopt);
    report.items[1].outcome = ItemOutcome::unknown("The app stopped while moving this picture.");
    report.items[2].outcome = ItemOutcome::unknown("The app stopped while moving this picture.");
    report.items[3].outcome = ItemOutcome::skipped("Not attempted.");
    const std::string plain = TidyCommands::historyLine(3, report);
    EXPECT_TRUE(plain.starts_with("3. ")) << plain;
    // The date and time in full, as ISO 8601 writes them: never a year of two digits.
    EXPECT_TRUE(std::regex_search(plain, std::regex("^3\\. [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}  "))) << plain;
    EXPECT_NE(plain.find("  1 moved, 1 skipped, 0 failed, 0 put back, 2 to check by hand  [ABCDEF12-"), std::string::npos)
        << plain;
    EXPECT_EQ(plain.find("reconciled"), std::string::npos) << plain;
    report.reconciled = true;
    const std::string reconciled = TidyCommands::historyLine(3, report);
    EXPECT_NE(reconciled.find("0 put back (interrupted, reconciled), 2 to check by hand  ["), std::string::npos)
        << reconciled;
    report.items.resize(1);
    EXPECT_EQ(TidyCommands::historyLine(1, report).find("check by hand"), std::string::npos);
}

struct ArgumentCase {
    std::vector<std::string> arguments;
    std::string problem; ///< empty: understood
};

class CommandArguments : public ::testing::TestWithParam<ArgumentCase> {};

// Every mistake is one line naming it; a command never takes another command's options.
TEST_P(CommandArguments, AreUnderstoodOrRefusedInOneLine) {
    std::vector<std::string> arguments{"/usr/bin/velmo-pristel"};
    arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    const auto problem = TidyCommands::argumentProblem(arguments);
    EXPECT_EQ(problem.value_or(""), GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandArguments,
    ::testing::Values(
        ArgumentCase{{"clean", "--mode=similar", "--preset", "broad", "--priorities=oldest,mostPixels", "photos"}, ""},
        ArgumentCase{{"clean", "--protect=a", "--protect", "b", "--yes", "--", "--yes"}, ""},
        ArgumentCase{{"clean", "--json", "--dry-run", "--skipped", "--no-cache", "photos"}, ""},
        ArgumentCase{{"clean", "--interactive", "--dry-run", "photos"}, ""},
        ArgumentCase{{"clean", "--help"}, ""},
        ArgumentCase{{"history", "--json"}, ""},
        ArgumentCase{{"put-back", "-h"}, ""},
        ArgumentCase{{"clean", "--yse", "photos"}, "Unknown option for clean: --yse (velmo-pristel clean --help lists them)"},
        ArgumentCase{{"history", "--yes"}, "Unknown option for history: --yes (velmo-pristel history --help lists them)"},
        ArgumentCase{{"put-back", "--json", "1"}, "Unknown option for put-back: --json (velmo-pristel put-back --help lists them)"},
        ArgumentCase{{"history", "1"}, "history takes no folders or names: 1"},
        ArgumentCase{{"clean", "--mode", "simlar", "photos"}, "--mode takes exact, similar or series, not simlar"},
        ArgumentCase{{"clean", "--preset=braod", "photos"}, "--preset takes conservative, balanced or broad, not braod"},
        ArgumentCase{{"clean", "--mode", "exact", "--mode=similar", "photos"}, "--mode is given twice."},
        ArgumentCase{{"clean", "--priorities", "oldest, newst", "photos"},
                     "Unknown priority: newst (velmo-pristel clean --help lists them)"},
        ArgumentCase{{"clean", "photos", "--protect"}, "--protect needs a value (velmo-pristel clean --help)"},
        ArgumentCase{{"clean", "--yes=no", "photos"}, "--yes takes no value: --yes=no"},
        ArgumentCase{{"clean", "--json", "photos"}, "clean --json needs --yes or --dry-run: it never asks."},
        ArgumentCase{{"clean", "--json", "--interactive", "--yes", "photos"}, "--interactive and --json do not go together."},
        ArgumentCase{{"clean", "--\nx", "photos"}, "Unknown option for clean: --\\nx (velmo-pristel clean --help lists them)"},
        ArgumentCase{{"clean", "--library", "--dry-run"}, ""},
        ArgumentCase{{"clean", "--library=~/Shotwell/photo.db", "--yes"}, ""},
        ArgumentCase{{"clean", "--library", "shotwell", "other.db"},
                     "clean --library takes one library, shotwell or a photo.db, not also other.db"},
        ArgumentCase{{"clean", "--library="}, "--library= needs shotwell or the path of a photo.db."},
        ArgumentCase{{"clean", "--library", "--protect", "a"},
                     "--protect is for folders; a library's copies are only tagged, never moved."},
        ArgumentCase{{"history", "--library"}, "Unknown option for history: --library (velmo-pristel history --help lists them)"}));

// The help fits a terminal of 100 columns and gives every priority and preset a line of its own,
// made from the same names the settings use.
TEST(HelpTexts, FitTheTerminalAndListEveryPriorityAndPreset) {
    for (const std::string& text :
         {Help::program(), Help::clean(), Help::history(), Help::putBack(), Help::undo(), CompressCommands::help()}) {
        for (const auto& line : split(text, '\n')) EXPECT_LE(line.size(), 100u) << line;
        EXPECT_TRUE(text.ends_with("\n"));
    }
    const std::string clean = "\n" + Help::clean();
    for (const auto priority : allCases<KeeperPolicy::Priority>()) {
        const std::string line = "\n  " + std::string(rawValue(priority));
        EXPECT_NE(clean.find(line + " "), std::string::npos) << line;
        EXPECT_NE(clean.find(std::string(KeeperPolicy::name(priority))), std::string::npos);
    }
    for (const auto preset : allCases<SimilarityPreset>()) {
        EXPECT_NE(clean.find("\n  " + std::string(rawValue(preset)) + " "), std::string::npos);
        EXPECT_NE(Help::program().find("\n  " + std::string(rawValue(preset)) + " "), std::string::npos);
    }
    EXPECT_NE(clean.find("Standard order: eyesOpen,bestQuality,mostSmiles,mostPixels,filedNotInbox,oldest,shallowest\n"),
              std::string::npos);
}

TEST(RelativePaths, AreTakenFromTheWorkingFolder) {
    testing::TempDir dir;
    char* saved = ::getcwd(nullptr, 0);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    char* working = ::getcwd(nullptr, 0);
    const std::string here = working;
    std::free(working);
    EXPECT_EQ(TidyCommands::absolutePath("a/b.jpg"), here + "/a/b.jpg");
    EXPECT_EQ(TidyCommands::absolutePath("./a//../b.jpg"), here + "/b.jpg");
    EXPECT_EQ(TidyCommands::absolutePath("/x/./y"), "/x/y");
    ASSERT_EQ(::chdir(saved), 0);
    std::free(saved);
}

} // namespace
} // namespace vp
