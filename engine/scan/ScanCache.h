// What earlier exact scans learned about files, kept so that a rescan of an unchanged library
// costs a walk and a status call per file. A cache only: safe to delete, rebuilt when missing;
// a damaged, cut or foreign file is taken as empty and written anew.
//
// Everything is keyed by the file's snapshot as the walk saw it: device, inode, size,
// modification time and status change time, both to the nanosecond. Writing to a file changes
// its modification time, and setting that back changes the change time, which no program can
// set back; so a key that still matches means the same bytes, and a file whose key changed is
// read again. Per key: the inspection's outcome, the SHA-256 of the first 64 KiB and of the
// whole content, and the byte-by-byte confirmations (a confirmation class shared by the keys
// of files found identical). The full-decode verdict is a property of the bytes, so it is kept
// per full digest (and file extension, which picks the decoder) and shared by every copy.
// Inspections and verdicts depend on the decoders: they are dropped when the decoder
// revision differs from the one that wrote them.
//
// Bounded: entries of files not seen for `staleAfterDays` are dropped when the file is
// written, and at most `maximumEntries` are kept (the most recently seen). Written atomically
// under a lock shared with other processes, merging what they wrote meanwhile, so two scans
// at once never damage it (at worst one scan's news is learned again next time).
#pragma once

#include "FolderSource.h"

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vp {

class ScanCache {
public:
    using Digest = std::array<unsigned char, 32>;

    struct Key {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t modifiedSeconds = 0;
        std::int64_t modifiedNanoseconds = 0;
        std::int64_t changedSeconds = 0;
        std::int64_t changedNanoseconds = 0;

        static Key of(const FolderSource::Found& found);
        bool operator==(const Key&) const = default;
    };

    static constexpr int staleAfterDays = 60;
    static constexpr std::size_t maximumEntries = 1'000'000;

    /// Loads the file when there is one. Without a path the cache lives in memory only.
    /// `decoderRevision` names the decoders whose answers the cache holds (Images::decoderRevision
    /// by default); inspections and verdicts written under another revision are not used.
    explicit ScanCache(std::optional<std::string> path = std::nullopt, std::optional<std::string> decoderRevision = {});

    std::optional<FolderSource::Inspection> inspection(const Key& key, PhotoFormat format) const;
    void storeInspection(const Key& key, PhotoFormat format, const FolderSource::Inspection& inspection);

    std::optional<Digest> prefixDigest(const Key& key) const;
    void storePrefixDigest(const Key& key, const Digest& digest);
    std::optional<Digest> fullDigest(const Key& key) const;
    void storeFullDigest(const Key& key, const Digest& digest);

    /// True when the two files were confirmed identical byte by byte while they had these keys.
    bool knownIdentical(const Key& a, const Key& b) const;
    /// Remembers that the files with these keys were confirmed identical byte by byte.
    void storeIdentical(const std::vector<Key>& members);

    /// Whether content with this full digest decoded fully when read through the decoder the
    /// extension picks (lower-case extension).
    std::optional<bool> decodes(const Digest& full, const std::string& extension) const;
    void storeDecodes(const Digest& full, const std::string& extension, bool decodes);

    /// Marks the files as seen today, which keeps their entries from going stale.
    void seen(const std::vector<Key>& keys);

    /// Writes the file when something changed; false when it could not (the cache then stays
    /// as it was on disk, and what this process learned is learned again next time).
    bool save();

    std::size_t count() const;
    std::string path() const { return m_path.value_or(""); }

    // ---- the file format, public for the tests

    struct Entry {
        std::uint32_t seenDay = 0;
        std::optional<PhotoFormat> inspectedAs; ///< the format the inspection was made for
        FolderSource::Inspection inspection;
        std::optional<Digest> prefix;
        std::optional<Digest> full;
        std::uint64_t identicalClass = 0; ///< 0: never confirmed
    };
    struct Verdict {
        std::uint32_t seenDay = 0;
        bool decodes = false;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const;
    };
    struct Contents {
        std::string decoderRevision;
        std::unordered_map<Key, Entry, KeyHash> entries;
        std::map<std::pair<Digest, std::string>, Verdict> verdicts;
    };
    /// Empty contents when the data is not a whole, undamaged cache file.
    static Contents decode(std::string_view data);
    static std::string encode(const Contents& contents);

private:
    Entry& entry(const Key& key);
    static std::uint32_t today();
    void dropStale(Contents& contents) const;

    std::optional<std::string> m_path;
    mutable std::mutex m_mutex;
    Contents m_contents;
    bool m_dirty = false;
};

} // namespace vp
