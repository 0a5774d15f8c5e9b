#include "LockStore.h"

#include "platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace vp {

namespace {

// 2001-01-01T00:00:00Z in seconds since 1970.
constexpr std::int64_t referenceDate = 978307200;

/// Inode 0 is no file: pictures that are not files (library items) carry it, and a lock must
/// never match them all through it.
std::optional<FileIdentity> identityOf(const PhotoAsset& asset) {
    if (asset.snapshot.identity.inode == 0) return std::nullopt;
    return asset.snapshot.identity;
}

bool matches(const LockStore::Lock& lock, const PhotoAsset& asset) {
    if (lock.path == asset.path) return true;
    const auto identity = identityOf(asset);
    return identity && lock.identity == identity;
}

/// The whole file; none when it is missing or cannot be read (a folder in its place included).
std::optional<std::string> readWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0) break;
        content.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fd);
    return content;
}

/// Moves a damaged file aside without ever replacing another file.
void moveAside(const std::string& path, const std::string& aside) {
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return;
    // Some file systems do not know the flag; a link fails just as well when the name is taken.
    if (errno == EINVAL && ::link(path.c_str(), aside.c_str()) == 0) ::unlink(path.c_str());
}

} // namespace

double secondsSinceReferenceDate(Timestamp time) {
    using namespace std::chrono;
    return duration<double>(time.time_since_epoch()).count() - static_cast<double>(referenceDate);
}

Timestamp fromSecondsSinceReferenceDate(double seconds) {
    using namespace std::chrono;
    // A date no lock could have been made at is pulled back to the edge of what the clock
    // holds, so the lock itself is kept.
    constexpr double limit = 4e9;
    if (std::isnan(seconds)) seconds = 0;
    seconds = std::clamp(seconds, -limit, limit);
    // To the microsecond: finer than any clock a lock was made with, and coarse enough that a
    // date survives the trip through a double unchanged.
    const auto micro = microseconds(std::llround((seconds + static_cast<double>(referenceDate)) * 1e6));
    return Timestamp(duration_cast<Timestamp::duration>(micro));
}

LockStore::LockStore(std::optional<std::string> url) : m_url(std::move(url)) {
    if (!m_url) return;
    const auto content = readWhole(*m_url);
    if (!content) return;
    auto decoded = decodeJsonText<std::vector<Lock>>(*content);
    if (decoded) {
        m_locks = std::move(decoded).value();
        return;
    }
    moveAside(*m_url, damagedPath(*m_url, std::chrono::system_clock::now()));
}

std::string LockStore::damagedPath(const std::string& url, Timestamp now) {
    using namespace std::chrono;
    return url + ".damaged-" + std::to_string(duration_cast<seconds>(now.time_since_epoch()).count());
}

bool LockStore::isLocked(const PhotoAsset& asset) const {
    const std::lock_guard guard(m_mutex);
    return std::ranges::any_of(m_locks, [&](const Lock& lock) { return matches(lock, asset); });
}

void LockStore::add(const PhotoAsset& asset) {
    {
        const std::lock_guard guard(m_mutex);
        if (std::ranges::any_of(m_locks, [&](const Lock& lock) { return lock.path == asset.path; })) return;
        // Whole microseconds, so the lock reads back from its file exactly as it was made.
        const auto now = std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
        m_locks.push_back({asset.path, identityOf(asset), Timestamp(now)});
    }
    save();
}

void LockStore::remove(const PhotoAsset& asset) {
    {
        const std::lock_guard guard(m_mutex);
        std::erase_if(m_locks, [&](const Lock& lock) { return matches(lock, asset); });
    }
    save();
}

std::vector<LockStore::Lock> LockStore::locks() const {
    const std::lock_guard guard(m_mutex);
    return m_locks;
}

void LockStore::save() const {
    if (!m_url) return;
    const std::lock_guard writing(m_writeMutex);
    std::string content;
    {
        const std::lock_guard guard(m_mutex);
        content = encodeJson(m_locks).dump();
    }
    // A failed write leaves the previous file whole; the next change writes again.
    (void)AtomicFile::write(*m_url, content);
}

} // namespace vp

void nlohmann::adl_serializer<vp::LockStore::Lock, void>::to_json(vp::Json& json,
                                                                  const vp::LockStore::Lock& lock) {
    json = vp::Json::object();
    json["path"] = lock.path;
    if (lock.identity) json["identity"] = *lock.identity;
    json["created"] = vp::secondsSinceReferenceDate(lock.created);
}

void nlohmann::adl_serializer<vp::LockStore::Lock, void>::from_json(const vp::Json& json,
                                                                    vp::LockStore::Lock& lock) {
    if (!json.is_object()) throw vp::JsonDecodingError("", "expected an object");
    vp::LockStore::Lock decoded;
    vp::detail::decodeField(json, "path", decoded.path);
    vp::detail::decodeField(json, "identity", decoded.identity);
    double created = 0;
    vp::detail::decodeField(json, "created", created);
    decoded.created = vp::fromSecondsSinceReferenceDate(created);
    lock = std::move(decoded);
}
