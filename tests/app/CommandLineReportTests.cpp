#include "app/CommandLineReport.h"
#include "engine/common/PathRules.h"
#include "model/PhotoCleanupHost.h"

#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <regex>

namespace vp {
namespace {

using CommandLineReport::Mode;
using CommandLineReport::Request;

std::optional<Request> parsed(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "/usr/bin/velmo-pristel");
    return CommandLineReport::parse(arguments);
}

TEST(ReportArguments, FlagsPresetAndFolders) {
    EXPECT_FALSE(parsed({}));
    EXPECT_FALSE(parsed({"--help", "/p"}));
    EXPECT_EQ(parsed({"--series", "/p"}), (Request{Mode::series, SimilarityPreset::balanced, {"/p"}}));
    EXPECT_EQ(parsed({"--similar", "broad", "/a", "/b"}), (Request{Mode::similar, SimilarityPreset::broad, {"/a", "/b"}}));
    // Folders run up to the next argument that begins with a hyphen.
    EXPECT_EQ(parsed({"--similar", "/a", "-x", "/b"}), (Request{Mode::similar, SimilarityPreset::balanced, {"/a"}}));
    // Both flags: similar wins, wherever it stands.
    EXPECT_EQ(parsed({"--series", "/a", "--similar", "/b"}), (Request{Mode::similar, SimilarityPreset::balanced, {"/b"}}));
    // A preset word only counts first; elsewhere it is a folder.
    EXPECT_EQ(parsed({"--similar", "/a", "broad"}), (Request{Mode::similar, SimilarityPreset::balanced, {"/a", "broad"}}));
    EXPECT_EQ(parsed({"--exact", "broad"}), (Request{Mode::exact, SimilarityPreset::balanced, {"broad"}}));
    EXPECT_EQ(parsed({"--similar"}), (Request{Mode::similar, SimilarityPreset::balanced, {}}));
    // "--no-cache" may stand anywhere, among the folders too.
    EXPECT_EQ(parsed({"--exact", "/a", "--no-cache", "/b"}), (Request{Mode::exact, SimilarityPreset::balanced, {"/a", "/b"}, true}));
    EXPECT_EQ(parsed({"--no-cache", "--series", "/a"}), (Request{Mode::series, SimilarityPreset::balanced, {"/a"}, true}));
}

TEST(ReportOutput, HomeIsShownAsATilde) {
    EXPECT_FALSE(PhotoCleanupHost::realHome().empty());
    PhotoCleanupHost host;
    host.homeFolder = "/home/ann";
    EXPECT_EQ(host.abbreviate("/home/ann/Pictures/a.jpg"), "~/Pictures/a.jpg");
    EXPECT_EQ(host.abbreviate("/home/ann2/a.jpg"), "/home/ann2/a.jpg");
    EXPECT_EQ(host.abbreviate("/elsewhere/a.jpg"), "/elsewhere/a.jpg");
}

std::string report(const Request& request, int& status, const SharedCancellationFlag& cancel = std::make_shared<CancellationFlag>()) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    status = CommandLineReport::run(request, out, cancel, nullptr);
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
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
                         "/c/copy.jpg\n\n4 pictures compared, 1 identical groups\n");

    const std::string series = report({Mode::series, SimilarityPreset::balanced, {}}, status);
    EXPECT_EQ(series, "\n0 pictures measured, 0 close pairs, 0 series\n");

    auto cancelled = std::make_shared<CancellationFlag>();
    cancelled->cancel();
    EXPECT_EQ(report({Mode::similar, SimilarityPreset::balanced, {base}}, status, cancelled), "cancelled\n");
    EXPECT_EQ(status, 1);
}

} // namespace
} // namespace vp
