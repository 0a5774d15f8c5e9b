#include "engine/common/PathRules.h"
#include "engine/scan/ExactMatcher.h"
#include "engine/scan/ScanCache.h"

#include "tests/support/TempDir.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vp {
namespace {

using Inspection = FolderSource::Inspection;
using Key = ScanCache::Key;

const std::string revision = "test decoders 1";

Key key(std::uint64_t inode, std::int64_t changed = 100) { return {2049, inode, 1000, 50, 7, changed, 9}; }

ScanCache::Digest digest(unsigned char fill) {
    ScanCache::Digest value{};
    value.fill(fill);
    return value;
}

std::uint32_t today() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<days>(system_clock::now().time_since_epoch()).count());
}

TEST(ScanCache, WhatIsStoredIsReadBackFromTheFile) {
    testing::TempDir dir;
    const std::string file = dir / "cache/exact-scan.cache";
    {
        ScanCache cache(file, revision);
        cache.storeInspection(key(1), PhotoFormat::jpeg, {Inspection::Outcome::readable, 4032, 3024});
        cache.storeInspection(key(2), PhotoFormat::raw, {Inspection::Outcome::damaged, {}, {}});
        cache.storePrefixDigest(key(1), digest(1));
        cache.storeFullDigest(key(1), digest(2));
        cache.storeIdentical({key(1), key(3)});
        cache.storeDecodes(digest(2), "jpg", true);
        cache.storeDecodes(digest(2), "nef", false);
        ASSERT_TRUE(cache.save());
    }
    const ScanCache cache(file, revision);
    EXPECT_EQ(cache.count(), 3u);
    EXPECT_EQ(cache.inspection(key(1), PhotoFormat::jpeg), (Inspection{Inspection::Outcome::readable, 4032, 3024}));
    EXPECT_EQ(cache.inspection(key(2), PhotoFormat::raw), (Inspection{Inspection::Outcome::damaged, {}, {}}));
    // An inspection answers for the format it was made for only (a hard link of another name).
    EXPECT_FALSE(cache.inspection(key(1), PhotoFormat::png));
    EXPECT_EQ(cache.prefixDigest(key(1)), digest(1));
    EXPECT_EQ(cache.fullDigest(key(1)), digest(2));
    EXPECT_FALSE(cache.fullDigest(key(2)));
    EXPECT_TRUE(cache.knownIdentical(key(1), key(3)));
    EXPECT_FALSE(cache.knownIdentical(key(1), key(2)));
    EXPECT_EQ(cache.decodes(digest(2), "jpg"), true);
    EXPECT_EQ(cache.decodes(digest(2), "nef"), false);
    EXPECT_FALSE(cache.decodes(digest(3), "jpg"));
    // Any part of the key that differs is another file, or the same file written since.
    for (Key other : {key(1, 101), Key{2050, 1, 1000, 50, 7, 100, 9}, Key{2049, 1, 1001, 50, 7, 100, 9},
                      Key{2049, 1, 1000, 51, 7, 100, 9}, Key{2049, 1, 1000, 50, 8, 100, 9}, Key{2049, 1, 1000, 50, 7, 100, 8}}) {
        EXPECT_FALSE(cache.prefixDigest(other));
        EXPECT_FALSE(cache.inspection(other, PhotoFormat::jpeg));
        EXPECT_FALSE(cache.knownIdentical(other, key(3)));
    }
}

TEST(ScanCache, ConfirmationsJoinTheClassOfAMemberConfirmedBefore) {
    ScanCache cache(std::nullopt, revision);
    cache.storeIdentical({key(1), key(2)});
    cache.storeIdentical({key(3), key(2)});
    EXPECT_TRUE(cache.knownIdentical(key(1), key(3)));
    cache.storeIdentical({key(4), key(5)});
    EXPECT_FALSE(cache.knownIdentical(key(1), key(4)));
    cache.storeIdentical({key(6)}); // a group of one confirms nothing
    EXPECT_FALSE(cache.knownIdentical(key(6), key(6)));
}

TEST(ScanCache, DamagedCutOrForeignFilesAreTakenAsEmptyAndWrittenAnew) {
    testing::TempDir dir;
    const std::string file = dir / "exact-scan.cache";
    {
        ScanCache cache(file, revision);
        for (std::uint64_t i = 1; i <= 50; ++i) {
            cache.storePrefixDigest(key(i), digest(static_cast<unsigned char>(i)));
            cache.storeInspection(key(i), PhotoFormat::heic, {Inspection::Outcome::readable, 10, 20});
        }
        ASSERT_TRUE(cache.save());
    }
    const std::string good = testing::readFile(file);
    std::vector<std::string> bad{"", "VPEXACT1", "not a cache at all", good.substr(0, good.size() / 2),
                                 good.substr(0, good.size() - 1), good + "x", std::string(good.size(), '\0')};
    for (const std::size_t at : {std::size_t{3}, std::size_t{20}, good.size() / 2, good.size() - 5}) {
        std::string flipped = good;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x40);
        bad.push_back(flipped);
    }
    for (const auto& content : bad) {
        testing::writeFile(file, content);
        ScanCache cache(file, revision);
        EXPECT_EQ(cache.count(), 0u) << content.size();
        EXPECT_FALSE(cache.prefixDigest(key(1)));
        ASSERT_TRUE(cache.save());
        EXPECT_EQ(ScanCache(file, revision).count(), 0u);
        EXPECT_NE(testing::readFile(file), content); // rewritten as a whole, empty cache
    }
    // What stands at the path and is no file is never read (a FIFO would block for good).
    ::unlink(file.c_str());
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    ScanCache onFifo(file, revision);
    EXPECT_EQ(onFifo.count(), 0u);
    onFifo.storePrefixDigest(key(1), digest(1));
    ASSERT_TRUE(onFifo.save());
    EXPECT_EQ(ScanCache(file, revision).prefixDigest(key(1)), digest(1));
}

TEST(ScanCache, OtherDecodersDropTheVerdictsButKeepTheDigests) {
    testing::TempDir dir;
    const std::string file = dir / "exact-scan.cache";
    {
        ScanCache cache(file, revision);
        cache.storeInspection(key(1), PhotoFormat::jpeg, {Inspection::Outcome::damaged, {}, {}});
        cache.storeFullDigest(key(1), digest(2));
        cache.storeDecodes(digest(2), "jpg", false);
        ASSERT_TRUE(cache.save());
    }
    const ScanCache cache(file, "test decoders 2");
    EXPECT_FALSE(cache.inspection(key(1), PhotoFormat::jpeg));
    EXPECT_FALSE(cache.decodes(digest(2), "jpg"));
    EXPECT_EQ(cache.fullDigest(key(1)), digest(2));
}

TEST(ScanCache, EntriesNotSeenForAWhileAreDropped) {
    testing::TempDir dir;
    const std::string file = dir / "exact-scan.cache";
    ScanCache::Contents contents;
    contents.decoderRevision = revision;
    ScanCache::Entry old, recent;
    old.seenDay = today() - ScanCache::staleAfterDays - 1;
    old.prefix = digest(1);
    recent.seenDay = today() - ScanCache::staleAfterDays + 1;
    recent.prefix = digest(2);
    contents.entries[key(1)] = old;
    contents.entries[key(2)] = recent;
    contents.entries[key(3)] = old;
    contents.verdicts[{digest(9), "jpg"}] = {old.seenDay, true};
    testing::writeFile(file, ScanCache::encode(contents));
    {
        ScanCache cache(file, revision);
        EXPECT_EQ(cache.count(), 3u);
        cache.seen({key(3)}); // seen again today: kept
        ASSERT_TRUE(cache.save());
    }
    const ScanCache cache(file, revision);
    EXPECT_EQ(cache.count(), 2u);
    EXPECT_FALSE(cache.prefixDigest(key(1)));
    EXPECT_EQ(cache.prefixDigest(key(2)), digest(2));
    EXPECT_EQ(cache.prefixDigest(key(3)), digest(1));
    EXPECT_FALSE(cache.decodes(digest(9), "jpg"));
}

// Processes writing at once never damage the file, and each one's entries survive the others'
// writes: every save merges what is on disk under the lock.
TEST(ScanCache, ProcessesWritingAtOnceLoseNothingAndDamageNothing) {
    testing::TempDir dir;
    const std::string file = dir / "cache/exact-scan.cache";
    constexpr int processes = 4;
    constexpr int rounds = 15;
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ScanCache cache(file, revision);
            bool ok = true;
            for (int r = 0; r < rounds; ++r) {
                cache.storePrefixDigest(key(static_cast<std::uint64_t>(p * 1000 + r)), digest(static_cast<unsigned char>(p)));
                ok = cache.save() && ok;
                // What is on disk between the writes is always a whole cache.
                ok = ScanCache(file, revision).count() > 0 && ok;
            }
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const ScanCache cache(file, revision);
    EXPECT_EQ(cache.count(), static_cast<std::size_t>(processes * rounds));
    for (int p = 0; p < processes; ++p)
        for (int r = 0; r < rounds; ++r)
            EXPECT_EQ(cache.prefixDigest(key(static_cast<std::uint64_t>(p * 1000 + r))),
                      digest(static_cast<unsigned char>(p)));
}

// ---- the scan with a cache

std::string bytes(std::size_t size, char fill, std::size_t differentAt = std::string::npos) {
    std::string content(size, fill);
    if (differentAt != std::string::npos) content[differentAt] = static_cast<char>(fill + 1);
    return content;
}

class ScanWithCache : public ::testing::Test {
protected:
    testing::TempDir dir;
    std::string base = *PathRules::real(dir.path());
    std::string file = dir / "cache/exact-scan.cache";
    CancellationFlag cancel;
    ExactMatcher::PictureChecks checks;
    std::mutex lock;
    std::multiset<std::string> read;     // every buffer read from a file, by path
    std::multiset<std::string> inspected;
    std::multiset<std::string> decoded;

    ScanWithCache() {
        checks.inspect = [this](const std::string& path, PhotoFormat) {
            std::lock_guard guard(lock);
            inspected.insert(path);
            return Inspection{Inspection::Outcome::readable, 4, 3};
        };
        checks.decodesFully = [this](const std::string& path) {
            std::lock_guard guard(lock);
            decoded.insert(path);
            return path.find("broken") == std::string::npos;
        };
        checks.cacheAnswers = true;
    }

    ScanResult scan(bool withCache = true) {
        read.clear();
        inspected.clear();
        decoded.clear();
        ExactMatcher::ScanHooks hooks;
        hooks.afterRead = [this](const std::string& path) {
            std::lock_guard guard(lock);
            read.insert(path);
        };
        std::optional<ScanCache> cache;
        if (withCache) cache.emplace(file, revision);
        return ExactMatcher::scan({base}, true, std::nullopt, {}, cancel, nullptr, checks, hooks,
                                  {withCache ? &*cache : nullptr, nullptr});
    }
    std::string path(const std::string& relative) const { return base + "/" + relative; }
};

/// Groups (members' paths), skipped files and their reasons: what the scan found.
std::string summary(const ScanResult& result) {
    std::string text;
    for (const auto& group : result.groups) {
        text += "group " + group.id + " " + std::to_string(group.size) + ":";
        for (const auto& member : group.members) text += " " + member.path;
        text += "\n";
    }
    for (const auto& skipped : result.skipped)
        text += "skipped " + skipped.path + " " + std::string(rawValue(skipped.reason)) + " " +
                skipped.detail.value_or("") + "\n";
    text += std::to_string(result.pictures.size()) + " pictures\n";
    return text;
}

TEST_F(ScanWithCache, ARescanOfAnUnchangedTreeReadsNoFileAndFindsTheSame) {
    const std::size_t size = 3 * ExactMatcher::prefixBytes;
    dir.write("a/one.jpg", bytes(size, 'a'));
    dir.write("b/one copy.jpg", bytes(size, 'a'));
    dir.write("c/one again.jpg", bytes(size, 'a'));
    dir.write("a/late.dng", bytes(size, 'b', size - 1)); // same first 64 KiB as the next
    dir.write("b/late.dng", bytes(size, 'b'));
    dir.write("a/small.png", "0123456789");
    dir.write("b/small.png", "0123456789");
    dir.write("a/broken.heic", bytes(1000, 'c'));
    dir.write("b/broken.heic", bytes(1000, 'c'));

    const ScanResult uncached = scan(false);
    const ScanResult first = scan();
    EXPECT_FALSE(read.empty());
    EXPECT_EQ(decoded.size(), 3u);
    const ScanResult again = scan();
    EXPECT_TRUE(read.empty()) << *read.begin();
    EXPECT_TRUE(inspected.empty());
    EXPECT_TRUE(decoded.empty());
    EXPECT_EQ(summary(first), summary(uncached));
    EXPECT_EQ(summary(again), summary(uncached));
    ASSERT_EQ(again.groups.size(), 2u);
    EXPECT_EQ(again.groups[0].members.size(), 3u);
    EXPECT_EQ(again.skipped.size(), 2u); // the broken pair, corrupt
    EXPECT_EQ(again.pictures, first.pictures);

    // Without the cache file (deleted, as a cache may be) everything is read again.
    ASSERT_EQ(::unlink(file.c_str()), 0);
    EXPECT_EQ(summary(scan()), summary(uncached));
    EXPECT_FALSE(read.empty());
}

TEST_F(ScanWithCache, AFileWhoseSnapshotChangedIsReadAgain) {
    const std::size_t size = 2 * ExactMatcher::prefixBytes;
    const std::string a = dir.write("a/photo.jpg", bytes(size, 'a'));
    dir.write("b/photo.jpg", bytes(size, 'a'));
    dir.write("c/photo.jpg", bytes(size, 'a'));
    scan();

    // Rewritten with the same bytes: read and confirmed again, the others not.
    testing::writeFile(a, bytes(size, 'a'));
    auto result = scan();
    ASSERT_EQ(result.groups.size(), 1u);
    EXPECT_EQ(result.groups[0].members.size(), 3u);
    EXPECT_TRUE(read.contains(a));
    EXPECT_EQ(inspected, (std::multiset<std::string>{a}));
    EXPECT_TRUE(decoded.empty()); // the verdict belongs to the bytes, which are the same

    // A change that puts the old modification time back is still seen (its change time moved).
    struct stat before {};
    ASSERT_EQ(::stat(a.c_str(), &before), 0);
    testing::writeFile(a, bytes(size, 'a', size - 1));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, a.c_str(), times, 0), 0);
    result = scan();
    ASSERT_EQ(result.groups.size(), 1u);
    EXPECT_EQ(result.groups[0].members.size(), 2u);
    EXPECT_TRUE(read.contains(a));
    EXPECT_EQ(summary(result), summary(scan(false)));
}

TEST_F(ScanWithCache, ADamagedCacheIsAnEmptyOne) {
    dir.write("a/one.jpg", "0123456789");
    dir.write("b/one.jpg", "0123456789");
    const auto expected = summary(scan());
    std::string damaged = testing::readFile(file);
    damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 1);
    testing::writeFile(file, damaged);
    EXPECT_EQ(summary(scan()), expected);
    EXPECT_FALSE(read.empty());
    EXPECT_EQ(summary(scan()), expected); // and written anew
    EXPECT_TRUE(read.empty());
}

// Other checks than the folder source's (the benchmark's content-only ones) leave no answers.
TEST_F(ScanWithCache, OnlyTheFolderSourcesOwnChecksLeaveVerdicts) {
    checks.cacheAnswers = false;
    dir.write("a/one.jpg", "0123456789");
    dir.write("b/one.jpg", "0123456789");
    scan();
    ScanCache cache(file, revision);
    EXPECT_EQ(cache.count(), 2u);
    const auto found = FolderSource::walk({base}, std::nullopt, {}, cancel, nullptr).found;
    ASSERT_EQ(found.size(), 2u);
    EXPECT_FALSE(cache.inspection(ScanCache::Key::of(found[0]), PhotoFormat::jpeg));
    EXPECT_TRUE(cache.fullDigest(ScanCache::Key::of(found[0])));
    EXPECT_TRUE(cache.knownIdentical(ScanCache::Key::of(found[0]), ScanCache::Key::of(found[1])));
}

} // namespace
} // namespace vp
