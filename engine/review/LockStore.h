// The copies the person locked ("always keep this copy"), shared by every review and kept on
// disk so a lock outlives the scan it was made in, even when the file is renamed or moved on
// its volume afterwards.
#pragma once

#include "engine/common/Json.h"
#include "engine/scan/PhotoAsset.h"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

/// Shared by reference (one per run). Every method may be called from any thread.
class LockStore {
public:
    struct Lock {
        std::string path;                     ///< where the picture was when it was locked
        std::optional<FileIdentity> identity; ///< its device and inode then
        Timestamp created;

        VP_RECORD(path, identity, created)
        bool operator==(const Lock&) const = default;
    };

    /// The file's name in the data folder.
    static constexpr std::string_view fileName = "keep-locks.json";

    /// Locks kept in memory only.
    LockStore() = default;
    /// Loads the locks saved at `url`; none when there is no file. Locks are never dropped
    /// without a word (see `problem`):
    /// - a damaged or torn file is moved aside (see `damagedPath`), every complete lock that
    ///   still decodes is kept and written back at once;
    /// - a file that cannot be read (no permission, not a plain file, far too large) is left
    ///   alone and never written over in this run; locks made meanwhile live in memory only.
    explicit LockStore(std::optional<std::string> url);

    LockStore(const LockStore&) = delete;
    LockStore& operator=(const LockStore&) = delete;

    const std::optional<std::string>& url() const { return m_url; }
    /// A sentence for the person when stored locks were damaged or could not be read, so some
    /// may be missing; absent when every stored lock was read.
    const std::optional<std::string>& problem() const { return m_problem; }

    /// Locked when a lock has the picture's path, or the device and inode the picture has now:
    /// a file renamed or moved on its volume stays locked, a copy of it does not.
    bool isLocked(const PhotoAsset& asset) const;
    /// Locks the picture unless its path is locked already, then saves.
    void add(const PhotoAsset& asset);
    /// Drops every lock that matches the picture, by path or by identity, then saves.
    void remove(const PhotoAsset& asset);
    /// The locks in the order they were made.
    std::vector<Lock> locks() const;

    /// What a lock file's text holds: the whole list, or when it does not decode (torn by a
    /// crash, damaged on disk), every complete lock in it that still does.
    struct FileContent {
        std::vector<Lock> locks;
        bool damaged = false;
    };
    static FileContent decodeFile(std::string_view text);
    /// Compact JSON, as the file is written.
    static std::string encodeFile(const std::vector<Lock>& locks);

    /// Where a damaged lock file at `url` goes: its name with ".damaged-" and the seconds since
    /// 1970 appended.
    static std::string damagedPath(const std::string& url, Timestamp now);

private:
    /// Encodes under `m_mutex` and writes outside it; failures are left for the next change to
    /// repair. Writes are serialised among themselves so an older list never lands last.
    void save() const;

    std::optional<std::string> m_url;
    std::optional<std::string> m_problem;
    bool m_saves = true; // false while the file on disk must not be replaced
    mutable std::mutex m_mutex; // guards m_locks
    std::vector<Lock> m_locks;
    mutable std::mutex m_writeMutex;
};

/// Seconds since 1 January 2001 00:00:00 UTC, the form the lock file keeps its dates in.
double secondsSinceReferenceDate(Timestamp time);
Timestamp fromSecondsSinceReferenceDate(double seconds);

} // namespace vp

// Unlike other records, a lock is stored with `created` as a number of seconds since 2001, not
// as ISO text: that is the lock file's format, and the one place the lock is written.
template <>
struct nlohmann::adl_serializer<vp::LockStore::Lock, void> {
    static void to_json(vp::Json& json, const vp::LockStore::Lock& lock);
    static void from_json(const vp::Json& json, vp::LockStore::Lock& lock);
};
