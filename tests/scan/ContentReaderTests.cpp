#include "engine/scan/ContentReader.h"

#include "tests/support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vp {
namespace {

using ContentReader::Failure;

class ContentReading : public ::testing::Test {
protected:
    testing::TempDir dir;
    CancellationFlag cancel;

    std::pair<std::string, FileSnapshot> file(const std::string& name, const std::string& content) {
        const std::string path = dir.write(name, content);
        return {path, *FileSnapshot::read(path)};
    }
};

std::string pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 11)) & 0xff);
    return bytes;
}

TEST_F(ContentReading, DigestsKnownContent) {
    const auto [empty, emptySnapshot] = file("empty", "");
    EXPECT_EQ(ContentReader::sha256(empty, emptySnapshot, std::nullopt, &cancel).value(),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const auto [abc, abcSnapshot] = file("abc", "abcdef");
    EXPECT_EQ(ContentReader::sha256(abc, abcSnapshot, 3, &cancel).value(),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(ContentReading, LimitsAcrossBufferBoundariesMatchTheShorterFile) {
    const std::string big = pattern(3 * ContentReader::bufferSize + 17, 1);
    const std::size_t limit = ContentReader::bufferSize + 5;
    const auto [whole, wholeSnapshot] = file("whole", big);
    const auto [prefix, prefixSnapshot] = file("prefix", big.substr(0, limit));
    EXPECT_EQ(ContentReader::sha256(whole, wholeSnapshot, static_cast<std::int64_t>(limit), &cancel).value(),
              ContentReader::sha256(prefix, prefixSnapshot, std::nullopt, &cancel).value());
    EXPECT_NE(ContentReader::sha256(whole, wholeSnapshot, std::nullopt, &cancel).value(),
              ContentReader::sha256(prefix, prefixSnapshot, std::nullopt, &cancel).value());
}

TEST_F(ContentReading, AFileThatIsNoLongerTheScannedOneIsChanged) {
    const auto [edited, editedSnapshot] = file("edited", "original");
    testing::writeFile(edited, "edited, and longer");
    EXPECT_EQ(ContentReader::sha256(edited, editedSnapshot, std::nullopt, &cancel).error(), Failure::changed());

    // Same size, new inode: a copy put in its place.
    const auto [replaced, replacedSnapshot] = file("replaced", "12345678");
    const std::string other = dir.write("other", "87654321");
    ASSERT_EQ(::rename(other.c_str(), replaced.c_str()), 0);
    EXPECT_EQ(ContentReader::sha256(replaced, replacedSnapshot, std::nullopt, &cancel).error(), Failure::changed());

    // Grows while it is read: the size check after the last read catches it.
    const auto [growing, growingSnapshot] = file("growing", pattern(2 * ContentReader::bufferSize, 2));
    bool grown = false;
    const auto grow = [&](const std::string& path) {
        if (grown) return;
        grown = true;
        std::ofstream(path, std::ios::app) << "more";
    };
    EXPECT_EQ(ContentReader::sha256(growing, growingSnapshot, std::nullopt, &cancel, grow).error(), Failure::changed());
}

TEST_F(ContentReading, UnreadableFilesCarryTheSystemsText) {
    const auto [gone, goneSnapshot] = file("gone", "x");
    ::unlink(gone.c_str());
    EXPECT_EQ(ContentReader::sha256(gone, goneSnapshot, std::nullopt, &cancel).error(),
              Failure::unreadable("No such file or directory"));

    const auto [target, targetSnapshot] = file("target", "x");
    const std::string link = dir / "link";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(ContentReader::sha256(link, targetSnapshot, std::nullopt, &cancel).error().kind,
              Failure::Kind::unreadable); // a final link is never followed

    const auto [locked, lockedSnapshot] = file("locked", "secret");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    const int status = testing::runAsUnprivilegedUser([&] {
        const auto digest = ContentReader::sha256(locked, lockedSnapshot, std::nullopt, nullptr);
        const auto compared = ContentReader::sameBytes(locked, lockedSnapshot, target, targetSnapshot, nullptr);
        return !digest.hasValue() && digest.error() == Failure::unreadable("Permission denied") &&
                       !compared.hasValue() && compared.error() == Failure::unreadable("Permission denied")
                   ? 0
                   : 1;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(ContentReading, CancellationStopsBeforeTheNextBuffer) {
    const auto [big, snapshot] = file("big", pattern(3 * ContentReader::bufferSize, 3));
    EXPECT_EQ(ContentReader::sha256(big, snapshot, std::nullopt, &cancel, [&](const std::string&) { cancel.cancel(); })
                  .error(),
              Failure::cancelled());
}

TEST_F(ContentReading, ByteComparisonFindsTheLastDifferentByte) {
    std::string content = pattern(2 * ContentReader::bufferSize + 3, 4);
    const auto [a, snapshotA] = file("a", content);
    const auto [b, snapshotB] = file("b", content);
    content.back() ^= 1;
    const auto [c, snapshotC] = file("c", content);
    const auto [shorter, snapshotShorter] = file("short", content.substr(0, content.size() - 1));
    EXPECT_TRUE(ContentReader::sameBytes(a, snapshotA, b, snapshotB, &cancel).value());
    EXPECT_FALSE(ContentReader::sameBytes(a, snapshotA, c, snapshotC, &cancel).value());
    EXPECT_FALSE(ContentReader::sameBytes(c, snapshotC, shorter, snapshotShorter, &cancel).value());
}

TEST_F(ContentReading, AFileChangedDuringTheComparisonIsNeitherEqualNorDifferent) {
    const std::string content = pattern(2 * ContentReader::bufferSize, 5);
    const auto [a, snapshotA] = file("a", content);
    const auto [b, snapshotB] = file("b", content);
    const auto touch = [&](const std::string&) { std::ofstream(b, std::ios::app) << "x"; };
    EXPECT_EQ(ContentReader::sameBytes(a, snapshotA, b, snapshotB, &cancel, touch).error(), Failure::changed());
}

} // namespace
} // namespace vp
