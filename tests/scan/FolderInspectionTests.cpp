#include "engine/scan/ExactMatcher.h"
#include "engine/scan/FolderSource.h"
#include "engine/similarity/FeatureExtractor.h"

#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace vp {
namespace {

using Outcome = FolderSource::Inspection::Outcome;
using testing::TempDir;

struct Candidate {
    std::string name;
    PhotoFormat format;
    std::function<void(const std::string&)> write;
    Outcome outcome;
    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
    bool decodesFully;
};

void renamed(const std::string& from, const std::string& to) { ASSERT_EQ(std::rename(from.c_str(), to.c_str()), 0); }

class Inspection : public ::testing::TestWithParam<Candidate> {};

TEST_P(Inspection, SortsEachCandidateIntoItsOutcome) {
    TempDir dir;
    const auto& candidate = GetParam();
    const auto path = dir / candidate.name;
    candidate.write(path);

    const auto inspection = FolderSource::inspect(path, candidate.format);
    EXPECT_EQ(inspection.outcome, candidate.outcome);
    EXPECT_EQ(inspection.pixelWidth, candidate.width);
    EXPECT_EQ(inspection.pixelHeight, candidate.height);
    EXPECT_EQ(FolderSource::decodesFully(path), candidate.decodesFully);
}

void picture(const std::string& path) { testing::writePicture(path, {.width = 64, .height = 48}); }

INSTANTIATE_TEST_SUITE_P(
    FolderSource, Inspection,
    ::testing::Values(
        Candidate{"photo.jpg", PhotoFormat::jpeg, picture, Outcome::readable, 64, 48, true},
        Candidate{"photo.png", PhotoFormat::png, picture, Outcome::readable, 64, 48, true},
        Candidate{"photo.tif", PhotoFormat::tiff, picture, Outcome::readable, 64, 48, true},
        Candidate{"photo.heic", PhotoFormat::heic, picture, Outcome::readable, 64, 48, true},
        Candidate{"shot.dng", PhotoFormat::raw,
                  [](const std::string& p) { testing::writeMinimalRaw(p, {.make = "Nobody", .model = "Unheard Of"}); },
                  Outcome::readable, 64, 48, true},
        Candidate{"shot.nef", PhotoFormat::raw,
                  [](const std::string& p) {
                      testing::writeMinimalRaw(p, {.make = "NIKON CORPORATION", .model = "NIKON D850", .dngVersion = false});
                  },
                  Outcome::readable, 64, 48, true},
        // LibRaw opens it, but no such camera is on its list.
        Candidate{"future.nef", PhotoFormat::raw,
                  [](const std::string& p) {
                      testing::writeMinimalRaw(p, {.make = "NIKON CORPORATION", .model = "NIKON D9999", .dngVersion = false});
                  },
                  Outcome::cameraNotSupported, 64, 48, true},
        // A JPEG with a RAW extension is not a RAW.
        Candidate{"renamed.nef", PhotoFormat::raw,
                  [](const std::string& p) { picture(p + ".jpg"); renamed(p + ".jpg", p); },
                  Outcome::notDecodableHere, std::nullopt, std::nullopt, true},
        // Random bytes with a RAW extension: LibRaw finds no RAW in them.
        Candidate{"noise.cr2", PhotoFormat::raw, [](const std::string& p) { testing::writeFile(p, std::string(4096, '\x5a')); },
                  Outcome::notDecodableHere, std::nullopt, std::nullopt, false},
        // Garbage and empty files of a type we read are damaged, not foreign.
        Candidate{"noise.jpg", PhotoFormat::jpeg, [](const std::string& p) { testing::writeFile(p, std::string(4096, '\x5a')); },
                  Outcome::damaged, std::nullopt, std::nullopt, false},
        Candidate{"empty.png", PhotoFormat::png, [](const std::string& p) { testing::writeFile(p, ""); },
                  Outcome::damaged, std::nullopt, std::nullopt, false},
        // The header survives, the scan data is cut: readable by inspection, caught by full decoding.
        Candidate{"cut.jpg", PhotoFormat::jpeg,
                  [](const std::string& p) {
                      testing::writePicture(p, {.width = 640, .height = 480}, "Q=95");
                      const auto bytes = testing::readFile(p);
                      testing::writeFile(p, bytes.substr(0, bytes.size() / 2));
                  },
                  Outcome::readable, 640, 480, false},
        // A PNG whose IDAT stops half-way.
        Candidate{"cut.png", PhotoFormat::png,
                  [](const std::string& p) {
                      testing::writePicture(p, {.width = 640, .height = 480}, "compression=0");
                      const auto bytes = testing::readFile(p);
                      testing::writeFile(p, bytes.substr(0, bytes.size() / 2));
                  },
                  Outcome::readable, 640, 480, false},
        // The generic picture type has no decoder of its own.
        Candidate{"thing.jpg", PhotoFormat::other, picture, Outcome::notDecodableHere, std::nullopt, std::nullopt, true}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (auto& c : name)
            if (c == '.') c = '_';
        return name;
    });

// A picture swapped for a FIFO after the walk saw it would block an ordinary open for good,
// and with it the whole scan: neither Ctrl-C nor termination could end it.
void becomesFifo(const std::string& path) {
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
}

TEST(PictureSwappedForAFifo, IsSkippedAsChangedAndTheScanEnds) {
    TempDir dir;
    const std::string inspected = dir / "a.jpg", hashed = dir / "c.jpg";
    testing::writePicture(inspected, {.width = 64, .height = 48});
    testing::writeFile(dir / "b.jpg", testing::readFile(inspected));
    testing::writePicture(hashed, {.width = 80, .height = 60});
    testing::writeFile(dir / "d.jpg", testing::readFile(hashed));

    ExactMatcher::PictureChecks checks;
    checks.inspect = [&](const std::string& path, PhotoFormat format) {
        if (path == inspected) becomesFifo(path); // between the walk and decoding the header
        return FolderSource::inspect(path, format);
    };
    ExactMatcher::ScanHooks hooks;
    hooks.afterInspection = [&] { becomesFifo(hashed); }; // between decoding and hashing
    CancellationFlag cancel;
    auto scanning = std::async(std::launch::async, [&] {
        return ExactMatcher::scan({dir.path()}, true, std::nullopt, {}, cancel, {}, checks, hooks);
    });
    if (scanning.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        // Opening the FIFOs for writing releases whoever waits on them, so the test can end.
        for (const auto& fifo : {inspected, hashed}) ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        FAIL() << "the scan hung on a FIFO";
    }
    const ScanResult result = scanning.get();
    std::map<std::string, SkipReason> skipped;
    for (const auto& file : result.skipped) skipped[file.path] = file.reason;
    EXPECT_EQ(skipped[inspected], SkipReason::changedDuringScan);
    EXPECT_EQ(skipped[hashed], SkipReason::changedDuringScan);
    EXPECT_TRUE(result.groups.empty());

    // Each way a picture is opened for measuring refuses the FIFO at once.
    EXPECT_EQ(Images::properties(hashed).error().kind, ImageFailure::Kind::notAFile);
    EXPECT_EQ(Images::thumbnail(hashed, 64).error().kind, ImageFailure::Kind::notAFile);
    EXPECT_FALSE(Images::decodesFully(hashed));
    EXPECT_FALSE(FeatureExtractor::features(hashed, WithFeaturePrint::no));
    const std::string raw = dir / "e.nef";
    ASSERT_EQ(::mkfifo(raw.c_str(), 0600), 0);
    EXPECT_EQ(Images::thumbnail(raw, 64).error().kind, ImageFailure::Kind::notAFile);
}

} // namespace
} // namespace vp
