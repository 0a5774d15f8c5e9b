#include "LockStore.h"

#include "engine/common/Text.h"
#include "platform/AtomicFile.h"
#include "platform/RegularFile.h"
#include "platform/SystemError.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
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

/// The texts of the complete elements of a JSON array, read without parsing them: a torn
/// tail or one damaged element must not take the elements before and after it along.
/// Stops at the end of the array or at an element the text ends inside of.
std::vector<std::string_view> arrayElements(std::string_view text) {
    std::vector<std::string_view> elements;
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    std::size_t at = 0;
    while (at < text.size() && isSpace(text[at])) ++at;
    if (at == text.size() || text[at] != '[') return elements;
    ++at;
    while (at < text.size()) {
        while (at < text.size() && isSpace(text[at])) ++at;
        if (at == text.size() || text[at] == ']') break;
        const std::size_t start = at;
        int depth = 0;
        bool inString = false;
        bool complete = false;
        for (; at < text.size(); ++at) {
            const char c = text[at];
            if (inString) {
                if (c == '\\')
                    ++at;
                else if (c == '"')
                    inString = false;
            } else if (c == '"') {
                inString = true;
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                if (depth == 0) {
                    complete = true; // the array's own end
                    break;
                }
                --depth;
            } else if (c == ',' && depth == 0) {
                complete = true;
                break;
            }
        }
        if (!complete) break; // torn inside this element
        elements.push_back(text.substr(start, at - start));
        if (text[at] != ',') break; // a closing bracket: the array ends here
        ++at;
    }
    return elements;
}

/// Moves a damaged file aside without ever replacing another file; false when it stayed.
bool moveAside(const std::string& path, const std::string& aside) {
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return true;
    // Some file systems do not know the flag; a link fails just as well when the name is taken.
    return errno == EINVAL && ::link(path.c_str(), aside.c_str()) == 0 && ::unlink(path.c_str()) == 0;
}

/// Larger than any lock file a person makes (about 150 bytes a lock).
constexpr std::int64_t maximumFileSize = 256 << 20;

std::string lockCount(std::size_t count) {
    return count == 1 ? "1 lock" : std::to_string(count) + " locks";
}

} // namespace

double secondsSinceReferenceDate(Timestamp time) {
    using namespace std::chrono;
    return duration<double>(time.time_since_epoch()).count() - static_cast<double>(referenceDate);
}

Timestamp fromSecondsSinceReferenceDate(double seconds) {
    using namespace std::chrono;
    // A date no lock could have been made at is pulled back to the edge of what the clock
    // holds, so the lock itself is kept: the date only tells when, the path is the safeguard.
    constexpr double limit = 4e9;
    if (!std::isfinite(seconds)) seconds = 0;
    seconds = std::clamp(seconds, -limit, limit);
    // To the microsecond: finer than any clock a lock was made with, and coarse enough that a
    // date survives the trip through a double unchanged.
    const auto micro = microseconds(std::llround((seconds + static_cast<double>(referenceDate)) * 1e6));
    return Timestamp(duration_cast<Timestamp::duration>(micro));
}

LockStore::LockStore(std::optional<std::string> url) : m_url(std::move(url)) {
    if (!m_url) return;
    const RegularFileRead read = readRegularFile(*m_url, maximumFileSize);
    switch (read.status) {
    case RegularFileRead::Status::missing: return;
    case RegularFileRead::Status::read: break;
    case RegularFileRead::Status::notRegular:
    case RegularFileRead::Status::tooLarge:
    case RegularFileRead::Status::unreadable:
        // What stands there may hold locks this run cannot see; it is left alone, and the
        // locks made now live until the end of the run.
        m_saves = false;
        m_problem = "The locks file " + lastPathComponent(*m_url) + " could not be read (" + read.why() +
                    "), so no copy counts as locked in this run. The file is left as it is.";
        return;
    }
    FileContent content = decodeFile(read.content);
    m_locks = std::move(content.locks);
    if (!content.damaged) return;
    const std::string aside = damagedPath(*m_url, std::chrono::system_clock::now());
    const bool movedAside = moveAside(*m_url, aside);
    std::string sentence = "The locks file " + lastPathComponent(*m_url) + " was damaged: " +
                           (m_locks.empty() ? std::string("no lock could be read from it")
                                            : lockCount(m_locks.size()) + " could be read") +
                           ", and any others are lost. ";
    if (movedAside) {
        sentence += "The damaged file is kept as " + std::string(lastPathComponent(aside)) + ".";
        // The locks saved from it are written at once, so the next run starts from them.
        if (!m_locks.empty()) save();
    } else {
        m_saves = false; // never written over while it could not be kept aside
        sentence += "It could not be kept aside, so it is left as it is.";
    }
    m_problem = std::move(sentence);
}

LockStore::FileContent LockStore::decodeFile(std::string_view text) {
    if (auto whole = decodeJsonText<std::vector<Lock>>(text)) return {std::move(whole).value(), false};
    FileContent salvaged{{}, true};
    for (const auto element : arrayElements(text))
        if (auto lock = decodeJsonText<Lock>(element)) salvaged.locks.push_back(std::move(lock).value());
    return salvaged;
}

std::string LockStore::encodeFile(const std::vector<Lock>& locks) { return encodeJson(locks).dump(); }

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
    if (!m_url || !m_saves) return;
    const std::lock_guard writing(m_writeMutex);
    std::string content;
    {
        const std::lock_guard guard(m_mutex);
        content = encodeFile(m_locks);
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
