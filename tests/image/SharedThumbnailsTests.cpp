#include "platform/image/SharedThumbnails.h"

#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <chrono>
#include <random>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vp {
namespace {

using Status = CachedThumbnail::Status;
using testing::TempDir;

struct Chunk {
    std::string type;
    std::string data;
};

// The chunks of a PNG, walked by hand so the test does not trust the code's own reader.
std::vector<Chunk> chunksOf(const std::string& png) {
    std::vector<Chunk> chunks;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(png[i])); };
        const std::uint32_t length = byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
        chunks.push_back({png.substr(at + 4, 4), png.substr(at + 8, length)});
        at += 12 + length;
    }
    return chunks;
}

void setModificationSeconds(const std::string& path, std::int64_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::int64_t modificationSeconds(const std::string& path) {
    return SharedThumbnails::stampOf(path)->modificationSeconds;
}

// A thumbnail as another program writes it: half-transparent red, compressed zTXt chunks
// (libvips's way, and Qt's for long texts), its own keys.
void writeForeignThumbnail(const std::string& at, const std::string& uri, std::int64_t mtime, int side) {
    std::filesystem::create_directories(std::filesystem::path(at).parent_path());
    auto image = vips::VImage::black(side, side / 2, vips::VImage::option()->set("bands", 4))
                     .linear({1, 1, 1, 1}, {200, 0, 0, 128})
                     .cast(VIPS_FORMAT_UCHAR)
                     .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    image.set("png-comment-0-Thumb::MTime", std::to_string(mtime).c_str());
    image.set("png-comment-1-Thumb::URI", uri.c_str());
    image.set("png-comment-2-Software", "GNOME::ThumbnailFactory");
    image.write_to_file(at.c_str());
}

class SharedThumbnailsTest : public ::testing::Test {
protected:
    TempDir home;
    SharedThumbnails cache{home / "cache/thumbnails"};
    std::string picture = home / "photos/IMG \xff 1.jpg";

    void SetUp() override {
        home.folder("photos");
        testing::writePicture(picture, {.width = 400, .height = 200});
    }
};

struct UriCase {
    std::string path;
    std::string uri;
    std::string fileName;
};

class FileUris : public ::testing::TestWithParam<UriCase> {};

// The names must be the file manager's, byte for byte, or nothing is shared.
TEST_P(FileUris, AreTheStandardsNames) {
    const auto& [path, uri, fileName] = GetParam();
    EXPECT_EQ(SharedThumbnails::fileUri(path), uri);
    EXPECT_EQ(SharedThumbnails::thumbnailFileName(uri), fileName);
}

INSTANTIATE_TEST_SUITE_P(
    SharedThumbnails, FileUris,
    ::testing::Values(
        // The standard's own example.
        UriCase{"/home/jens/photos/me.png", "file:///home/jens/photos/me.png", "c6ee772d9e49320e97ec29a7eb5b1697.png"},
        UriCase{"/tmp/a b;#%?.jpg", "file:///tmp/a%20b%3B%23%25%3F.jpg", "0028bebd41773622360c87542bcdda42.png"},
        // UTF-8 and a byte that is not UTF-8, both as bytes.
        UriCase{"/photos/Caf\xc3\xa9\xff.jpg", "file:///photos/Caf%C3%A9%FF.jpg",
                "03c3fc21be97ebc5c8ba22f3492fe02d.png"},
        UriCase{"/a/!$&'()*+,=:@~-_/b.jpg", "file:///a/!$&'()*+,=:@~-_/b.jpg", "42997142ab7addb21005f9f42064c7b1.png"},
        UriCase{"//home/./jens/x/../photos//me.png", "file:///home/jens/photos/me.png",
                "c6ee772d9e49320e97ec29a7eb5b1697.png"}));

TEST(SharedThumbnails, SizeIsTheSmallestThatCovers) {
    EXPECT_EQ(thumbnailSizeFor(0), ThumbnailSize::normal);
    EXPECT_EQ(thumbnailSizeFor(128), ThumbnailSize::normal);
    EXPECT_EQ(thumbnailSizeFor(129), ThumbnailSize::large);
    EXPECT_EQ(thumbnailSizeFor(1024), ThumbnailSize::xxLarge);
    EXPECT_EQ(thumbnailSizeFor(5000), ThumbnailSize::xxLarge);
}

TEST_F(SharedThumbnailsTest, ColdWritesTheStandardsPngAndWarmReadsItBack) {
    const auto cold = cache.get(picture, 200);
    ASSERT_TRUE(cold) << cold.error().detail;
    EXPECT_EQ(cold->width, 256);
    EXPECT_EQ(cold->height, 128);

    const auto file = cache.thumbnailPath(picture, ThumbnailSize::large);
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((home / "cache/thumbnails/large").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    const auto chunks = chunksOf(testing::readFile(file));
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(chunks[0].type, "IHDR");
    EXPECT_EQ(chunks[0].data.substr(8, 2), std::string("\x08\x06", 2)); // 8-bit RGBA
    EXPECT_EQ(chunks[0].data[12], 0);                                   // not interlaced
    std::map<std::string, std::string> texts;
    for (const auto& chunk : chunks) {
        const auto end = chunk.data.find('\0');
        if (chunk.type == "tEXt") texts[chunk.data.substr(0, end)] = chunk.data.substr(end + 1);
    }
    EXPECT_EQ(texts["Thumb::URI"], "file://" + home.path() + "/photos/IMG%20%FF%201.jpg");
    EXPECT_EQ(texts["Thumb::MTime"], std::to_string(modificationSeconds(picture)));
    EXPECT_EQ(texts["Thumb::Size"], std::to_string(std::filesystem::file_size(picture)));
    EXPECT_EQ(texts["Thumb::Image::Width"], "400");
    EXPECT_EQ(texts["Thumb::Image::Height"], "200");
    EXPECT_EQ(texts["Software"], "Velmo Pristel " VP_VERSION);

    // Garbage of the same size and time: only a read from the cache still shows the picture.
    const auto mtime = modificationSeconds(picture);
    testing::writeFile(picture, std::string(std::filesystem::file_size(picture), 'x'));
    setModificationSeconds(picture, mtime);
    const auto warm = cache.get(picture, 200);
    ASSERT_TRUE(warm) << warm.error().detail;
    EXPECT_EQ(*warm, *cold);
    EXPECT_EQ(cache.get(picture, 100)->width, 128) << "the large one, shrunk, serves a normal view";
}

TEST_F(SharedThumbnailsTest, AChangedPictureIsMadeAgain) {
    ASSERT_TRUE(cache.get(picture, 128));
    const auto stamp = *SharedThumbnails::stampOf(picture);
    EXPECT_EQ(cache.lookup(picture, ThumbnailSize::normal, stamp).status, Status::found);
    EXPECT_EQ(cache.lookup(picture, ThumbnailSize::normal, {stamp.modificationSeconds + 1, stamp.byteSize}).status,
              Status::stale);
    EXPECT_EQ(cache.lookup(picture, ThumbnailSize::normal, {stamp.modificationSeconds, stamp.byteSize + 1}).status,
              Status::stale);

    testing::writePicture(picture, {.width = 100, .height = 300});
    setModificationSeconds(picture, stamp.modificationSeconds + 60);
    const auto again = cache.get(picture, 128);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->height, 128);
    EXPECT_EQ(cache.lookup(picture, ThumbnailSize::normal, *SharedThumbnails::stampOf(picture)).status, Status::found);
}

enum class Damage { cutOff, garbage, linkToValidThumbnail, fifo, tooLargeForItsFolder, anotherFilesUri };

class DamagedCacheFiles : public SharedThumbnailsTest, public ::testing::WithParamInterface<Damage> {};

// Whatever stands in the cache is never trusted: the picture is decoded again and the file replaced.
TEST_P(DamagedCacheFiles, AreReplaced) {
    const auto file = cache.thumbnailPath(picture, ThumbnailSize::normal);
    ASSERT_TRUE(cache.get(picture, 128));
    const std::string valid = testing::readFile(file);
    const auto uri = SharedThumbnails::fileUri(picture);
    const auto elsewhere = home / "elsewhere.png";
    ::unlink(file.c_str());
    switch (GetParam()) {
    case Damage::cutOff: testing::writeFile(file, valid.substr(0, valid.size() / 2)); break;
    case Damage::garbage: testing::writeFile(file, "\x89PNG\r\n\x1a\n not really"); break;
    case Damage::linkToValidThumbnail:
        testing::writeFile(elsewhere, valid);
        ASSERT_EQ(::symlink(elsewhere.c_str(), file.c_str()), 0);
        break;
    case Damage::fifo: ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); break;
    case Damage::tooLargeForItsFolder: writeForeignThumbnail(file, uri, modificationSeconds(picture), 300); break;
    case Damage::anotherFilesUri: writeForeignThumbnail(file, uri + "x", modificationSeconds(picture), 100); break;
    }
    const auto stamp = *SharedThumbnails::stampOf(picture);
    EXPECT_NE(cache.lookup(picture, ThumbnailSize::normal, stamp).status, Status::found);

    const auto thumbnail = cache.get(picture, 128);
    ASSERT_TRUE(thumbnail) << thumbnail.error().detail;
    EXPECT_EQ(thumbnail->width, 128);
    EXPECT_EQ(cache.lookup(picture, ThumbnailSize::normal, stamp).status, Status::found);
    if (GetParam() == Damage::linkToValidThumbnail) {
        EXPECT_EQ(testing::readFile(elsewhere), valid);
    }
}

INSTANTIATE_TEST_SUITE_P(SharedThumbnails, DamagedCacheFiles,
                         ::testing::Values(Damage::cutOff, Damage::garbage, Damage::linkToValidThumbnail, Damage::fifo,
                                           Damage::tooLargeForItsFolder, Damage::anotherFilesUri));

// PNG guards its bytes with chunk CRCs and zlib's checksum, so a changed byte or a cut never
// passes for a thumbnail with other pixels: the file is either still read right (a harmless
// chunk dropped) or made again, and the same pixels come back either way.
TEST_F(SharedThumbnailsTest, NoDamagedByteOrCutChangesWhatIsShown) {
    const auto shown = cache.get(picture, 128);
    ASSERT_TRUE(shown);
    const auto file = cache.thumbnailPath(picture, ThumbnailSize::normal);
    const std::string valid = testing::readFile(file);
    std::mt19937 random(7);
    for (int round = 0; round < 160; ++round) {
        std::string damaged = valid;
        const std::size_t at = random() % valid.size();
        if (round % 4 == 0) damaged.resize(at);
        else damaged[at] = static_cast<char>(damaged[at] ^ (1 + random() % 255));
        testing::writeFile(file, damaged);
        const auto again = cache.get(picture, 128);
        ASSERT_TRUE(again) << "byte " << at;
        ASSERT_EQ(*again, *shown) << "byte " << at;
    }
}

TEST_F(SharedThumbnailsTest, AnotherProgramsThumbnailIsShownAsItIs) {
    const auto uri = SharedThumbnails::fileUri(picture);
    writeForeignThumbnail(cache.thumbnailPath(picture, ThumbnailSize::large), uri, modificationSeconds(picture), 256);
    // Asked for less, the larger one is shrunk rather than a picture decoded.
    const auto thumbnail = cache.get(picture, 64);
    ASSERT_TRUE(thumbnail) << thumbnail.error().detail;
    EXPECT_EQ(thumbnail->channels, 3);
    EXPECT_EQ(thumbnail->width, 128);
    EXPECT_EQ(thumbnail->height, 64);
    // Flattened on white: red (200 + 255) / 2, green and blue 255 / 2.
    EXPECT_NEAR(testing::cornerMean(thumbnail->pixels.data(), 128, 64, 3, 3), (227.5 + 127.5 + 127.5) / 3, 2.0);
}

TEST_F(SharedThumbnailsTest, AnUndecodablePictureIsNotTriedAgainUntilItChanges) {
    const auto broken = home.write("photos/broken.jpg", "\xff\xd8\xff not a JPEG at all");
    const auto first = cache.get(broken, 128);
    ASSERT_FALSE(first);
    EXPECT_TRUE(cache.failedBefore(broken, *SharedThumbnails::stampOf(broken)));
    EXPECT_NE(cache.failurePath(broken).find("/fail/velmo-pristel-" VP_VERSION "/"), std::string::npos);
    const auto second = cache.get(broken, 128);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().detail, "The picture could not be read before and has not changed since.");

    testing::writePicture(broken, {});
    setModificationSeconds(broken, modificationSeconds(broken) + 5);
    EXPECT_TRUE(cache.get(broken, 128));
}

TEST_F(SharedThumbnailsTest, NothingIsWrittenForPicturesInsideTheCacheOrForNonFiles) {
    ASSERT_TRUE(cache.get(picture, 128));
    const auto cached = cache.thumbnailPath(picture, ThumbnailSize::normal);
    ASSERT_EQ(::symlink((home / "cache").c_str(), (home / "shortcut").c_str()), 0);
    const auto throughLink = home / "shortcut/thumbnails/normal/" + std::filesystem::path(cached).filename().string();
    EXPECT_TRUE(cache.isInsideCache(throughLink));
    EXPECT_TRUE(cache.get(throughLink, 128));
    EXPECT_FALSE(std::filesystem::exists(cache.thumbnailPath(throughLink, ThumbnailSize::normal)));

    const auto fifo = home / "photos/pipe.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto answer = cache.get(fifo, 128);
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error().kind, ImageFailure::Kind::notAFile);
    EXPECT_FALSE(std::filesystem::exists(cache.failurePath(fifo)));
}

TEST_F(SharedThumbnailsTest, ACacheThatCannotBeWrittenStillGivesThumbnails) {
    testing::writeFile(home / "file", "a file where a folder should be");
    const SharedThumbnails unwritable(home / "file/thumbnails");
    const auto thumbnail = unwritable.get(picture, 128);
    ASSERT_TRUE(thumbnail) << thumbnail.error().detail;
    EXPECT_EQ(thumbnail->width, 128);
}

TEST_F(SharedThumbnailsTest, FourThreadsOnTheSamePicturesAgreeAndLeaveNoTemporaryFiles) {
    std::vector<std::string> pictures;
    for (int i = 0; i < 6; ++i) {
        pictures.push_back(home / ("photos/" + std::to_string(i) + ".jpg"));
        testing::writePicture(pictures.back(), {.width = 90 + i, .height = 60});
    }
    std::vector<std::vector<Bitmap>> seen(4);
    {
        std::vector<std::jthread> threads;
        for (auto& results : seen)
            threads.emplace_back([&] {
                for (int round = 0; round < 3; ++round)
                    for (const auto& path : pictures) results.push_back(cache.get(path, 128).value());
            });
    }
    for (const auto& results : seen) EXPECT_EQ(results, seen[0]);
    for (const auto& entry : std::filesystem::directory_iterator(home / "cache/thumbnails/normal"))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
}

} // namespace
} // namespace vp
