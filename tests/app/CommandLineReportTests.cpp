#include "app/CommandLine.h"
#include "app/CommandLineReport.h"
#include "engine/common/PathRules.h"
#include "model/PhotoCleanupHost.h"

#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

namespace vp {
namespace {

using CommandLineReport::Mode;
using CommandLineReport::Request;

Result<std::optional<Request>, std::string> parsed(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "/usr/bin/velmo-pristel");
    return CommandLineReport::parse(arguments);
}

std::optional<Request> request(std::vector<std::string> arguments) {
    const auto result = parsed(std::move(arguments));
    EXPECT_TRUE(result) << result.error();
    return result ? *result : std::nullopt;
}

TEST(ReportArguments, FlagsPresetAndFolders) {
    EXPECT_FALSE(request({}));
    EXPECT_FALSE(request({"/p", "/q"})); // folders for the window
    EXPECT_FALSE(request({"--", "--similar"}));
    EXPECT_EQ(request({"--series", "/p"}), (Request{Mode::series, SimilarityPreset::balanced, {"/p"}}));
    EXPECT_EQ(request({"--similar", "broad", "/a", "/b"}), (Request{Mode::similar, SimilarityPreset::broad, {"/a", "/b"}}));
    // A preset word only counts first; elsewhere it is a folder, and so is one after "--".
    EXPECT_EQ(request({"--similar", "/a", "broad"}), (Request{Mode::similar, SimilarityPreset::balanced, {"/a", "broad"}}));
    EXPECT_EQ(request({"--exact", "broad"}), (Request{Mode::exact, SimilarityPreset::balanced, {"broad"}}));
    EXPECT_EQ(request({"--similar", "--", "broad", "-odd"}),
              (Request{Mode::similar, SimilarityPreset::balanced, {"broad", "-odd"}}));
    EXPECT_EQ(request({"--similar"}), (Request{Mode::similar, SimilarityPreset::balanced, {}}));
    // Options before the flag or after the folders.
    Request withOptions{Mode::similar, SimilarityPreset::conservative, {"/a", "-"}};
    withOptions.json = withOptions.listSkipped = withOptions.noCache = true;
    EXPECT_EQ(request({"--json", "--similar", "conservative", "/a", "-", "--skipped", "--no-cache"}), withOptions);
}

struct ArgumentError {
    std::vector<std::string> arguments;
    std::string message;
};

class ReportArgumentErrors : public ::testing::TestWithParam<ArgumentError> {};

// Each mistake is refused with one line that names what was wrong; none becomes a folder list.
TEST_P(ReportArgumentErrors, AreOneLineNamingTheMistake) {
    const auto result = parsed(GetParam().arguments);
    ASSERT_FALSE(result) << "accepted";
    EXPECT_EQ(result.error(), GetParam().message);
    EXPECT_EQ(result.error().find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReportArgumentErrors,
    ::testing::Values(
        ArgumentError{{"--similr", "photos"}, "Unknown option: --similr (velmo-pristel --help lists them)"},
        ArgumentError{{"--similar", "/a", "-x", "/b"}, "Unknown option: -x (velmo-pristel --help lists them)"},
        ArgumentError{{"--series", "/a", "--similar", "/b"},
                      "Give one of --exact, --similar and --series, not both --series and --similar."},
        ArgumentError{{"--exact", "/a", "--exact"}, "Give one of --exact, --similar and --series, not both --exact and --exact."},
        ArgumentError{{"--similar", "--json", "photos"}, "Folders go right after --similar, before other options: photos"},
        ArgumentError{{"photos", "--series"}, "Folders go right after --series, before other options: photos"},
        ArgumentError{{"--exact", "/a", "--skipped", "/b"}, "Folders go right after --exact, before other options: /b"},
        ArgumentError{{"--json", "photos"}, "--json goes with --exact, --similar or --series."},
        ArgumentError{{"--similar=broad", "photos"}, "--similar takes no value; a preset or folders follow it: --similar=broad"},
        ArgumentError{{"--exact", "/a", "--json=yes"}, "--json takes no value: --json=yes"},
        ArgumentError{{"--exact", "/a", "--\x1b[31m"}, "Unknown option: --\\x1b[31m (velmo-pristel --help lists them)"}));

TEST(ReportArguments, FoldersThatAreNotThereAreRefusedByName) {
    testing::TempDir dir;
    dir.write("file.jpg", "x");
    const std::string base = dir.path();
    const auto refusal = [](Request request) { return CommandLineReport::folderRefusal(request).value_or("accepted"); };
    EXPECT_EQ(refusal({Mode::exact, SimilarityPreset::balanced, {base, base + "/Picturs"}}), "No such folder: " + base + "/Picturs");
    EXPECT_EQ(refusal({Mode::exact, SimilarityPreset::balanced, {base + "/file.jpg"}}), "Not a folder: " + base + "/file.jpg");
    EXPECT_EQ(refusal({Mode::exact, SimilarityPreset::balanced, {""}}), "Not a folder: \"\" (an empty argument)");
    // A mistyped preset is a folder that is not there; the presets are named.
    EXPECT_EQ(refusal({Mode::similar, SimilarityPreset::balanced, {"braod", base}}),
              "No such folder: braod (nor is it a preset: conservative, balanced or broad)");
    EXPECT_EQ(refusal({Mode::exact, SimilarityPreset::balanced, {"braod"}}), "No such folder: braod");
    EXPECT_EQ(refusal({Mode::similar, SimilarityPreset::balanced, {base}}), "accepted");
}

TEST(ReportOutput, HomeIsShownAsATilde) {
    EXPECT_FALSE(PhotoCleanupHost::realHome().empty());
    PhotoCleanupHost host;
    host.homeFolder = "/home/ann";
    EXPECT_EQ(host.abbreviate("/home/ann/Pictures/a.jpg"), "~/Pictures/a.jpg");
    EXPECT_EQ(host.abbreviate("/home/ann2/a.jpg"), "/home/ann2/a.jpg");
    EXPECT_EQ(host.abbreviate("/elsewhere/a.jpg"), "/elsewhere/a.jpg");
}

/// What the report prints; what it tells on standard error goes to `messages`.
std::string report(const Request& request, int& status, const SharedCancellationFlag& cancel = std::make_shared<CancellationFlag>(),
                   std::string* messages = nullptr) {
    char* text = nullptr;
    std::size_t size = 0;
    char* told = nullptr;
    std::size_t toldSize = 0;
    std::FILE* out = open_memstream(&text, &size);
    std::FILE* tell = open_memstream(&told, &toldSize);
    status = CommandLineReport::run(request, out, cancel, nullptr, tell);
    std::fclose(out);
    std::fclose(tell);
    std::string result(text, size);
    if (messages) *messages = std::string(told, toldSize);
    std::free(text);
    std::free(told);
    return result;
}

TEST(ReportOutput, GroupsMembersAndSummaryInTheirFormat) {
    testing::TempDir dir;
    const std::string base = *PathRules::real(dir.path());
    for (const char* folder : {"a", "b", "c"}) dir.folder(folder);
    testing::writePicture(base + "/a/photo.jpg", {.width = 320, .height = 240}, "Q=95");
    testing::writePicture(base + "/b/photo small.jpg", {.width = 160, .height = 120}, "Q=80");
    testing::writePicture(base + "/b/other.png", {.width = 64, .height = 400});
    dir.write("c/copy.jpg", testing::readFile(base + "/a/photo.jpg"));

    int status = -1;
    const std::string similar = report({Mode::similar, SimilarityPreset::balanced, {base}}, status);
    EXPECT_EQ(status, 0);
    const std::regex format("\nsimilar: 3 photos\n"
                            "  " + base + "/a/photo\\.jpg(   quality [0-9]+)?(   \\[[^\\]]+\\])?\n"
                            "  " + base + "/b/photo small\\.jpg(   quality [0-9]+)?(   \\[[^\\]]+\\])?\n"
                            "  " + base + "/c/copy\\.jpg(   quality [0-9]+)?(   \\[[^\\]]+\\])?\n"
                            "\n4 pictures measured, [0-9]+ close pairs, 1 similar groups at Balanced\n");
    EXPECT_TRUE(std::regex_match(similar, format)) << similar;

    const std::string exact = report({Mode::exact, SimilarityPreset::balanced, {base}}, status);
    EXPECT_EQ(exact, "\nidentical: 2 photos\n  " + base + "/a/photo.jpg\n  " + base +
                         "/c/copy.jpg\n\n4 pictures compared, 1 identical group\n");

    const std::string series = report({Mode::series, SimilarityPreset::balanced, {}}, status);
    EXPECT_EQ(series, "\n0 pictures measured, 0 close pairs, 0 series\n");

    auto cancelled = std::make_shared<CancellationFlag>();
    cancelled->cancel();
    EXPECT_EQ(report({Mode::similar, SimilarityPreset::balanced, {base}}, status, cancelled), "cancelled\n");
    EXPECT_EQ(status, 1);
}

// Nothing left out goes unsaid: every reason is counted on standard error, and --skipped lists
// each item; the report on standard output keeps its format.
TEST(ReportLeftOut, IsCountedByReasonAndListedOnRequest) {
    testing::TempDir dir;
    const std::string base = *PathRules::real(dir.path());
    dir.folder("a");
    testing::writePicture(base + "/a/photo.jpg", {.width = 64, .height = 48});
    dir.write("a/damaged.jpg", "not a picture at all");
    dir.write("a/anim.gif", "GIF89a");
    dir.write("a/.hidden.jpg", testing::readFile(base + "/a/photo.jpg"));
    dir.write("a/.thumbnails/t.jpg", testing::readFile(base + "/a/photo.jpg"));
    dir.write("a/.notes", "not a picture: never mentioned");
    dir.write("a/Tool.app/inside.jpg", testing::readFile(base + "/a/photo.jpg"));
    ASSERT_EQ(::symlink((base + "/a/photo.jpg").c_str(), (base + "/a/link.jpg").c_str()), 0);

    int status = -1;
    std::string told;
    const std::string printed = report({Mode::exact, SimilarityPreset::balanced, {base}}, status,
                                       std::make_shared<CancellationFlag>(), &told);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(printed, "\n1 picture compared, 0 identical groups\n");
    EXPECT_EQ(told, "Left out: 1 damaged, 1 not decodable here, 1 link, 2 hidden, 1 package folder. --skipped lists them.\n");

    Request listing{Mode::similar, SimilarityPreset::balanced, {base}};
    listing.listSkipped = true;
    report(listing, status, std::make_shared<CancellationFlag>(), &told);
    EXPECT_EQ(told, "Left out: 1 damaged, 1 not decodable here, 1 link, 2 hidden, 1 package folder:\n"
                    "  damaged: " + base + "/a/damaged.jpg\n"
                    "  not decodable here: " + base + "/a/anim.gif (GIF)\n"
                    "  link: " + base + "/a/link.jpg\n"
                    "  hidden: " + base + "/a/.hidden.jpg\n"
                    "  hidden: " + base + "/a/.thumbnails\n"
                    "  package folder: " + base + "/a/Tool.app (A package is one thing, not a folder of photos.)\n");

    testing::TempDir empty;
    report({Mode::exact, SimilarityPreset::balanced, {empty.path()}}, status, std::make_shared<CancellationFlag>(), &told);
    EXPECT_EQ(told, ""); // nothing left out, nothing said
}

// A picture the measuring could not read is left out of look-alikes: too large when its header
// claims more pixels than are ever decoded, otherwise not measurable.
TEST(ReportLeftOut, UnmeasuredPicturesSayWhy) {
    SimilarityIndex index;
    index.pictures.resize(3);
    index.pictures[0].path = "/p/panorama.jpg";
    index.pictures[0].pixelWidth = 40000;
    index.pictures[0].pixelHeight = 5001;
    index.pictures[1].path = "/p/odd.jpg";
    index.pictures[1].pixelWidth = 4000;
    index.pictures[1].pixelHeight = 3000;
    index.pictures[2].path = "/p/fine.jpg";
    index.features.resize(3);
    index.unmeasured = {"/p/panorama.jpg", "/p/odd.jpg"};
    const auto items = CommandLine::leftOut(ScanResult{}, &index);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], (CommandLine::LeftOut{"/p/panorama.jpg", CommandLine::LeftOut::Reason::tooLarge,
                                              "40000 \u00d7 5001 pixels"}));
    EXPECT_EQ(items[1], (CommandLine::LeftOut{"/p/odd.jpg", CommandLine::LeftOut::Reason::unmeasured, std::nullopt}));
    EXPECT_EQ(CommandLine::leftOutSummary(items, false), "Left out: 1 too large, 1 not measurable. --skipped lists them.");
}

// The JSON document: one line of ASCII with the header, the groups with their keeper, and what
// was left out; its layout is checked against the schema end to end.
TEST(ReportJson, HoldsGroupsKeepersAndWhatWasLeftOut) {
    testing::TempDir dir;
    const std::string base = *PathRules::real(dir.path());
    dir.folder("a");
    testing::writePicture(base + "/a/photo.jpg", {.width = 320, .height = 240}, "Q=95");
    dir.write("b/caf\xe9.jpg", testing::readFile(base + "/a/photo.jpg"));
    dir.write("b/damaged.jpg", "not a picture");
    Request request{Mode::exact, SimilarityPreset::balanced, {base}};
    request.json = true;
    int status = -1;
    const std::string text = report(request, status);
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(text.ends_with("\n"));
    EXPECT_EQ(text.find('\n'), text.size() - 1);
    EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    const auto json = Json::parse(text);
    EXPECT_EQ(json["tool"], "velmo-pristel");
    EXPECT_EQ(json["command"], "report");
    EXPECT_EQ(json["mode"], "exact");
    EXPECT_FALSE(json.contains("preset"));
    ASSERT_EQ(json["groups"].size(), 1u);
    const auto& group = json["groups"][0];
    EXPECT_EQ(group["members"].size(), 2u);
    EXPECT_EQ(group["members"][1]["path"].get<std::string>(), base + "/b/caf\xe9.jpg"); // the exact bytes
    EXPECT_EQ(group["members"][0]["pixelWidth"], 320);
    int keepers = 0;
    for (const auto& member : group["members"]) keepers += member["keeper"].get<bool>() ? 1 : 0;
    EXPECT_EQ(keepers, 1);
    EXPECT_FALSE(group["keeper"]["reason"].get<std::string>().empty());
    ASSERT_EQ(json["skipped"].size(), 1u);
    EXPECT_EQ(json["skipped"][0]["reason"], "corrupt");
    EXPECT_EQ(json["summary"]["pictures"], 2);

    auto cancelled = std::make_shared<CancellationFlag>();
    cancelled->cancel();
    const auto stopped = Json::parse(report(request, status, cancelled));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(stopped["cancelled"], true);
}

} // namespace
} // namespace vp
