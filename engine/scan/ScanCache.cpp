#include "ScanCache.h"

#include "platform/AtomicFile.h"
#include "platform/FileLock.h"
#include "platform/RegularFile.h"
#include "platform/image/Images.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <openssl/evp.h>
#include <random>
#include <thread>

namespace vp {

namespace {

// The file: a magic line, the decoder revision, the entries and the verdicts in a fixed
// little-endian layout, and the SHA-256 of everything before it. A binary layout because a
// rescan reads the whole file before the walk is over: a library of 100,000 pictures makes
// 15 MB here, read in milliseconds, where JSON of the same would take a good part of a second.
constexpr std::string_view magic = "VPEXACT1";
constexpr std::size_t digestSize = 32;
constexpr std::int64_t largestFile = std::int64_t{512} << 20;

enum Flag : std::uint8_t {
    hasInspection = 1,
    hasPrefix = 2,
    hasFull = 4,
    hasWidth = 8,
    hasHeight = 16,
};

class Writer {
public:
    void bytes(const void* data, std::size_t size) { m_data.append(static_cast<const char*>(data), size); }
    template <class T>
    void number(T value) {
        auto raw = static_cast<std::uint64_t>(value);
        for (std::size_t i = 0; i < sizeof(T); ++i) m_data.push_back(static_cast<char>((raw >> (8 * i)) & 0xFF));
    }
    void text(std::string_view value) {
        number<std::uint32_t>(static_cast<std::uint32_t>(value.size()));
        bytes(value.data(), value.size());
    }
    std::string& data() { return m_data; }

private:
    std::string m_data;
};

struct Malformed {};

class Reader {
public:
    explicit Reader(std::string_view data) : m_data(data) {}
    const unsigned char* bytes(std::size_t size) {
        if (size > m_data.size() - m_at) throw Malformed{};
        const auto* start = reinterpret_cast<const unsigned char*>(m_data.data() + m_at);
        m_at += size;
        return start;
    }
    template <class T>
    T number() {
        const unsigned char* raw = bytes(sizeof(T));
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<std::uint64_t>(raw[i]) << (8 * i);
        return static_cast<T>(value);
    }
    std::string text(std::size_t largest) {
        const auto size = number<std::uint32_t>();
        if (size > largest) throw Malformed{};
        const unsigned char* raw = bytes(size);
        return std::string(reinterpret_cast<const char*>(raw), size);
    }
    bool atEnd() const { return m_at == m_data.size(); }

private:
    std::string_view m_data;
    std::size_t m_at = 0;
};

ScanCache::Digest sha256(std::string_view data) {
    ScanCache::Digest digest{};
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr);
    return digest;
}

std::uint64_t newClass() {
    static std::mutex mutex;
    static std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    std::lock_guard lock(mutex);
    std::uint64_t value = 0;
    while (value == 0) value = generator();
    return value;
}

constexpr std::size_t largestExtension = 64;

/// Fills what `into` lacks from `from`, which describes the same bytes (the same key).
void fillFrom(ScanCache::Entry& into, const ScanCache::Entry& from, bool withInspection) {
    into.seenDay = std::max(into.seenDay, from.seenDay);
    if (withInspection && !into.inspectedAs && from.inspectedAs) {
        into.inspectedAs = from.inspectedAs;
        into.inspection = from.inspection;
    }
    if (!into.prefix) into.prefix = from.prefix;
    if (!into.full) into.full = from.full;
    if (into.identicalClass == 0) into.identicalClass = from.identicalClass;
}

} // namespace

ScanCache::Key ScanCache::Key::of(const FolderSource::Found& found) {
    const FileSnapshot& snapshot = found.snapshot;
    return {snapshot.identity.device,   snapshot.identity.inode, snapshot.size, snapshot.modifiedSeconds,
            snapshot.modifiedNanoseconds, found.changedSeconds,  found.changedNanoseconds};
}

std::size_t ScanCache::KeyHash::operator()(const Key& key) const {
    std::uint64_t hash = 1469598103934665603ULL;
    for (const std::uint64_t part :
         {key.device, key.inode, static_cast<std::uint64_t>(key.size), static_cast<std::uint64_t>(key.modifiedSeconds),
          static_cast<std::uint64_t>(key.modifiedNanoseconds), static_cast<std::uint64_t>(key.changedSeconds),
          static_cast<std::uint64_t>(key.changedNanoseconds)}) {
        hash ^= part + 0x9E3779B97F4A7C15ULL + (hash << 6) + (hash >> 2);
        hash *= 1099511628211ULL;
    }
    return static_cast<std::size_t>(hash);
}

ScanCache::ScanCache(std::optional<std::string> path, std::optional<std::string> decoderRevision)
    : m_path(std::move(path)) {
    const std::string revision = decoderRevision ? *decoderRevision : Images::decoderRevision();
    m_contents.decoderRevision = revision;
    if (!m_path) return;
    const RegularFileRead read = readRegularFile(*m_path, largestFile);
    if (read.status == RegularFileRead::Status::missing) return;
    Contents stored = decode(read.content);
    // Damaged, cut, foreign or unreadable: nothing is used, and the file is written anew.
    if (!read.ok() || (stored.entries.empty() && stored.verdicts.empty() && stored.decoderRevision.empty())) {
        m_dirty = true;
        return;
    }
    if (stored.decoderRevision != revision) {
        for (auto& [key, entry] : stored.entries) entry.inspectedAs.reset();
        stored.verdicts.clear();
        m_dirty = true;
    }
    stored.decoderRevision = revision;
    m_contents = std::move(stored);
}

std::uint32_t ScanCache::today() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<days>(system_clock::now().time_since_epoch()).count());
}

ScanCache::Entry& ScanCache::entry(const Key& key) {
    auto [found, inserted] = m_contents.entries.try_emplace(key);
    if (inserted) found->second.seenDay = today();
    m_dirty = true;
    return found->second;
}

std::optional<FolderSource::Inspection> ScanCache::inspection(const Key& key, PhotoFormat format) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_contents.entries.find(key);
    if (found == m_contents.entries.end() || found->second.inspectedAs != format) return std::nullopt;
    return found->second.inspection;
}

void ScanCache::storeInspection(const Key& key, PhotoFormat format, const FolderSource::Inspection& inspection) {
    std::lock_guard lock(m_mutex);
    Entry& stored = entry(key);
    stored.inspectedAs = format;
    stored.inspection = inspection;
}

std::optional<ScanCache::Digest> ScanCache::prefixDigest(const Key& key) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_contents.entries.find(key);
    return found == m_contents.entries.end() ? std::nullopt : found->second.prefix;
}

void ScanCache::storePrefixDigest(const Key& key, const Digest& digest) {
    std::lock_guard lock(m_mutex);
    entry(key).prefix = digest;
}

std::optional<ScanCache::Digest> ScanCache::fullDigest(const Key& key) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_contents.entries.find(key);
    return found == m_contents.entries.end() ? std::nullopt : found->second.full;
}

void ScanCache::storeFullDigest(const Key& key, const Digest& digest) {
    std::lock_guard lock(m_mutex);
    entry(key).full = digest;
}

bool ScanCache::knownIdentical(const Key& a, const Key& b) const {
    std::lock_guard lock(m_mutex);
    const auto first = m_contents.entries.find(a);
    const auto second = m_contents.entries.find(b);
    return first != m_contents.entries.end() && second != m_contents.entries.end() &&
           first->second.identicalClass != 0 && first->second.identicalClass == second->second.identicalClass;
}

void ScanCache::storeIdentical(const std::vector<Key>& members) {
    if (members.size() < 2) return;
    std::lock_guard lock(m_mutex);
    // A class already held by one member also holds the files confirmed with it earlier: all of
    // them equal this group's bytes, so the group joins that class.
    std::uint64_t identicalClass = 0;
    for (const Key& key : members) {
        const auto found = m_contents.entries.find(key);
        if (found != m_contents.entries.end() && found->second.identicalClass != 0) {
            identicalClass = found->second.identicalClass;
            break;
        }
    }
    if (identicalClass == 0) identicalClass = newClass();
    for (const Key& key : members) {
        Entry& stored = entry(key);
        if (stored.identicalClass != identicalClass) stored.identicalClass = identicalClass;
    }
}

std::optional<bool> ScanCache::decodes(const Digest& full, const std::string& extension) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_contents.verdicts.find({full, extension});
    if (found == m_contents.verdicts.end()) return std::nullopt;
    return found->second.decodes;
}

void ScanCache::storeDecodes(const Digest& full, const std::string& extension, bool decodes) {
    if (extension.size() > largestExtension) return;
    std::lock_guard lock(m_mutex);
    m_contents.verdicts[{full, extension}] = {today(), decodes};
    m_dirty = true;
}

void ScanCache::seen(const std::vector<Key>& keys) {
    const std::uint32_t day = today();
    std::lock_guard lock(m_mutex);
    for (const Key& key : keys) {
        const auto found = m_contents.entries.find(key);
        if (found == m_contents.entries.end() || found->second.seenDay == day) continue;
        found->second.seenDay = day;
        m_dirty = true;
        if (!found->second.full) continue;
        for (auto verdict = m_contents.verdicts.lower_bound({*found->second.full, std::string()});
             verdict != m_contents.verdicts.end() && verdict->first.first == *found->second.full; ++verdict)
            verdict->second.seenDay = day;
    }
}

std::size_t ScanCache::count() const {
    std::lock_guard lock(m_mutex);
    return m_contents.entries.size();
}

void ScanCache::dropStale(Contents& contents) const {
    const std::uint32_t day = today();
    const auto stale = [&](std::uint32_t seenDay) { return seenDay + staleAfterDays < day; };
    std::erase_if(contents.entries, [&](const auto& item) { return stale(item.second.seenDay); });
    std::erase_if(contents.verdicts, [&](const auto& item) { return stale(item.second.seenDay); });
    if (contents.entries.size() > maximumEntries) {
        std::vector<std::uint32_t> days;
        days.reserve(contents.entries.size());
        for (const auto& [key, entry] : contents.entries) days.push_back(entry.seenDay);
        std::nth_element(days.begin(), days.end() - static_cast<std::ptrdiff_t>(maximumEntries), days.end());
        const std::uint32_t cut = *(days.end() - static_cast<std::ptrdiff_t>(maximumEntries));
        std::erase_if(contents.entries, [&](const auto& item) { return item.second.seenDay < cut; });
        // Days tie: the newest day may still hold too many; the rest go in any order.
        for (auto it = contents.entries.begin(); contents.entries.size() > maximumEntries;)
            it = contents.entries.erase(it);
    }
}

bool ScanCache::save() {
    std::lock_guard lock(m_mutex);
    if (!m_path || !m_dirty) return true;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(*m_path).parent_path(), error);
    // Another process writing meanwhile holds the lock for milliseconds; one that holds it far
    // longer (stopped in a debugger) is not waited for: this is a cache.
    std::optional<FileLock> held;
    for (int attempt = 0; attempt < 100 && !held; ++attempt) {
        auto taken = FileLock::tryExclusive(*m_path + ".lock");
        if (taken.lock) {
            held = std::move(taken.lock);
        } else if (taken.busy()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } else {
            return false;
        }
    }
    if (!held) return false;

    // What other processes wrote since this one read the file is kept.
    const RegularFileRead read = readRegularFile(*m_path, largestFile);
    if (read.ok()) {
        Contents other = decode(read.content);
        const bool sameDecoders = other.decoderRevision == m_contents.decoderRevision;
        for (auto& [key, theirs] : other.entries) {
            auto [mine, inserted] = m_contents.entries.try_emplace(key);
            if (inserted) {
                mine->second = theirs;
                if (!sameDecoders) mine->second.inspectedAs.reset();
            } else {
                fillFrom(mine->second, theirs, sameDecoders);
            }
        }
        if (sameDecoders)
            for (auto& [digest, verdict] : other.verdicts) {
                auto [mine, inserted] = m_contents.verdicts.try_emplace(digest, verdict);
                if (!inserted) mine->second.seenDay = std::max(mine->second.seenDay, verdict.seenDay);
            }
    }
    dropStale(m_contents);
    if (!AtomicFile::write(*m_path, encode(m_contents)).empty()) return false;
    m_dirty = false;
    return true;
}

std::string ScanCache::encode(const Contents& contents) {
    Writer out;
    out.bytes(magic.data(), magic.size());
    out.text(contents.decoderRevision);
    out.number<std::uint64_t>(contents.entries.size());
    for (const auto& [key, entry] : contents.entries) {
        out.number(key.device);
        out.number(key.inode);
        out.number(key.size);
        out.number(key.modifiedSeconds);
        out.number(key.modifiedNanoseconds);
        out.number(key.changedSeconds);
        out.number(key.changedNanoseconds);
        out.number(entry.seenDay);
        std::uint8_t flags = 0;
        if (entry.inspectedAs) flags |= hasInspection;
        if (entry.prefix) flags |= hasPrefix;
        if (entry.full) flags |= hasFull;
        if (entry.inspection.pixelWidth) flags |= hasWidth;
        if (entry.inspection.pixelHeight) flags |= hasHeight;
        out.number(flags);
        out.number(static_cast<std::uint8_t>(entry.inspectedAs.value_or(PhotoFormat::other)));
        out.number(static_cast<std::uint8_t>(entry.inspection.outcome));
        out.number(entry.inspection.pixelWidth.value_or(0));
        out.number(entry.inspection.pixelHeight.value_or(0));
        const Digest none{};
        out.bytes(entry.prefix.value_or(none).data(), digestSize);
        out.bytes(entry.full.value_or(none).data(), digestSize);
        out.number(entry.identicalClass);
    }
    out.number<std::uint64_t>(contents.verdicts.size());
    for (const auto& [which, verdict] : contents.verdicts) {
        out.bytes(which.first.data(), digestSize);
        out.text(which.second);
        out.number(verdict.seenDay);
        out.number<std::uint8_t>(verdict.decodes ? 1 : 0);
    }
    const Digest check = sha256(out.data());
    out.bytes(check.data(), check.size());
    return std::move(out.data());
}

ScanCache::Contents ScanCache::decode(std::string_view data) {
    if (data.size() < magic.size() + digestSize || data.substr(0, magic.size()) != magic) return {};
    const std::string_view body = data.substr(0, data.size() - digestSize);
    if (sha256(body) != *reinterpret_cast<const Digest*>(data.data() + body.size())) return {};
    Contents contents;
    try {
        Reader in(body.substr(magic.size()));
        contents.decoderRevision = in.text(4096);
        const auto entries = in.number<std::uint64_t>();
        if (entries > maximumEntries * 2) throw Malformed{};
        contents.entries.reserve(static_cast<std::size_t>(entries));
        for (std::uint64_t i = 0; i < entries; ++i) {
            Key key;
            key.device = in.number<std::uint64_t>();
            key.inode = in.number<std::uint64_t>();
            key.size = in.number<std::int64_t>();
            key.modifiedSeconds = in.number<std::int64_t>();
            key.modifiedNanoseconds = in.number<std::int64_t>();
            key.changedSeconds = in.number<std::int64_t>();
            key.changedNanoseconds = in.number<std::int64_t>();
            Entry entry;
            entry.seenDay = in.number<std::uint32_t>();
            const auto flags = in.number<std::uint8_t>();
            const auto format = in.number<std::uint8_t>();
            const auto outcome = in.number<std::uint8_t>();
            const auto width = in.number<std::int64_t>();
            const auto height = in.number<std::int64_t>();
            if (flags & hasInspection) {
                if (format > static_cast<std::uint8_t>(PhotoFormat::other) ||
                    outcome > static_cast<std::uint8_t>(FolderSource::Inspection::Outcome::changed))
                    throw Malformed{};
                entry.inspectedAs = static_cast<PhotoFormat>(format);
                entry.inspection.outcome = static_cast<FolderSource::Inspection::Outcome>(outcome);
                if (flags & hasWidth) entry.inspection.pixelWidth = width;
                if (flags & hasHeight) entry.inspection.pixelHeight = height;
            }
            Digest prefix, full;
            std::memcpy(prefix.data(), in.bytes(digestSize), digestSize);
            std::memcpy(full.data(), in.bytes(digestSize), digestSize);
            if (flags & hasPrefix) entry.prefix = prefix;
            if (flags & hasFull) entry.full = full;
            entry.identicalClass = in.number<std::uint64_t>();
            contents.entries[key] = entry;
        }
        const auto verdicts = in.number<std::uint64_t>();
        if (verdicts > maximumEntries * 2) throw Malformed{};
        for (std::uint64_t i = 0; i < verdicts; ++i) {
            Digest digest;
            std::memcpy(digest.data(), in.bytes(digestSize), digestSize);
            std::string extension = in.text(largestExtension);
            Verdict verdict;
            verdict.seenDay = in.number<std::uint32_t>();
            const auto decodes = in.number<std::uint8_t>();
            if (decodes > 1) throw Malformed{};
            verdict.decodes = decodes == 1;
            contents.verdicts[{digest, std::move(extension)}] = verdict;
        }
        if (!in.atEnd()) throw Malformed{};
    } catch (const Malformed&) {
        return {};
    }
    return contents;
}

} // namespace vp
