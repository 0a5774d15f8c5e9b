#include "ExactMatcher.h"

#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "platform/Home.h"
#include "platform/Volumes.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <sys/stat.h>
#include <time.h>
#include <unordered_map>

namespace vp::ExactMatcher {

VolumeInfo VolumeInfo::of(const std::string& path) {
    const VolumeFacts facts = volumeFacts(path);
    VolumeInfo info;
    info.name = facts.name;
    info.isReadOnly = facts.isReadOnly.value_or(false);
    if (facts.isInternal)
        info.isExternal = !*facts.isInternal;
    else if (facts.isRemovable)
        info.isExternal = *facts.isRemovable;
    else
        info.isExternal = facts.isEjectable.value_or(false);
    return info;
}

bool isCloudSynced(const std::string& path) {
    if (path.find("/Library/Mobile Documents/") != std::string::npos ||
        path.find("/Library/CloudStorage/") != std::string::npos)
        return true;
    static constexpr std::array<std::string_view, 6> clients{"Dropbox", "Nextcloud", "ownCloud",
                                                             "OneDrive", "pCloudDrive", "MEGA"};
    const std::string& home = realHomeFolder();
    if (home.empty()) return false;
    return std::any_of(clients.begin(), clients.end(), [&](std::string_view client) {
        return PathRules::isInside(path, home + "/" + std::string(client));
    });
}

namespace {

using Failure = ContentReader::Failure;

struct Candidate {
    const FolderSource::Found* found = nullptr;
    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
    bool rendersHere = true;
    ScanCache::Key key;

    const std::string& path() const { return found->path; }
    const FileSnapshot& snapshot() const { return found->snapshot; }
};

using Clock = std::chrono::steady_clock;

double processSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

/// Adds the time from its start to its end to one stage's total.
class StageTimer {
public:
    explicit StageTimer(StageTime* total) : m_total(total), m_cpu(total != nullptr ? processSeconds() : 0) {}
    ~StageTimer() {
        if (m_total == nullptr) return;
        m_total->wall += std::chrono::duration<double>(Clock::now() - m_start).count();
        m_total->cpu += processSeconds() - m_cpu;
    }
    StageTimer(const StageTimer&) = delete;
    StageTimer& operator=(const StageTimer&) = delete;

private:
    StageTime* m_total;
    Clock::time_point m_start = Clock::now();
    double m_cpu;
};

ScanCache::Digest digestBytes(const std::string& hex) {
    ScanCache::Digest bytes{};
    const auto value = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    for (std::size_t i = 0; i < bytes.size() && 2 * i + 1 < hex.size(); ++i)
        bytes[i] = static_cast<unsigned char>(value(hex[2 * i]) << 4 | value(hex[2 * i + 1]));
    return bytes;
}

std::string digestText(const ScanCache::Digest& bytes) { return hexadecimal(bytes.data(), bytes.size()); }

/// The key of what stands at the path now; absent when it cannot be read.
std::optional<ScanCache::Key> currentKey(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    FolderSource::Found found{path, {}, FileSnapshot::fromStatus(status), PhotoFormat::other,
                              static_cast<std::int64_t>(status.st_ctim.tv_sec),
                              static_cast<std::int64_t>(status.st_ctim.tv_nsec)};
    return ScanCache::Key::of(found);
}

template <class Function>
bool isFunction(const std::function<Function>& wrapper, Function* function) {
    const auto* target = wrapper.template target<Function*>();
    return target != nullptr && *target == function;
}

/// Candidates with the same content so far, by candidate index, in path order.
struct Bucket {
    std::string digest;
    std::vector<std::size_t> members;
};

/// Groups items by key, buckets in the order each key first occurs.
template <class Key>
std::vector<Bucket> bucketed(const std::vector<std::size_t>& members, const Key& keyOf) {
    std::vector<Bucket> buckets;
    std::unordered_map<std::string, std::size_t> position;
    for (const std::size_t member : members) {
        const std::optional<std::string> key = keyOf(member);
        if (!key) continue;
        const auto [found, inserted] = position.try_emplace(*key, buckets.size());
        if (inserted) buckets.push_back({*key, {}});
        buckets[found->second].members.push_back(member);
    }
    return buckets;
}

class ScanRun {
public:
    ScanRun(const CancellationFlag& cancel, const ScanProgressCallback& progress, const PictureChecks& checks,
            const ScanHooks& hooks, const ScanAids& aids)
        : m_cancel(cancel), m_progress(progress), m_checks(checks), m_hooks(hooks), m_cache(aids.cache),
          m_times(aids.times),
          // What the cache says about decoding was found by the folder source's own checks.
          m_cachedChecks(aids.cache != nullptr &&
                         (checks.cacheAnswers || (isFunction(checks.inspect, &FolderSource::inspect) &&
                                                  isFunction(checks.decodesFully, &FolderSource::decodesFully)))) {}

    ScanResult run(const std::vector<std::string>& roots, bool keepPictures,
                   const std::optional<FolderSource::NameSet>& only, const std::vector<std::string>& listed);

private:
    bool cancelled() const { return m_cancel.isCancelled(); }
    void report(ScanProgress::Stage stage);
    void inspect();
    std::vector<std::vector<std::size_t>> sizeGroups() const;
    std::vector<Bucket> tentativeGroups(const std::vector<std::vector<std::size_t>>& bySize);
    std::vector<Bucket> confirmed(std::vector<Bucket> tentative);
    std::vector<std::size_t> confirmGroupOneByOne(std::vector<std::size_t> members);
    void recordFailure(std::size_t candidate, const Failure& failure);
    void finishGroups(const std::vector<Bucket>& groups, bool keepPictures);
    const PhotoAsset& asset(std::size_t candidate);
    ScanResult finish();

    const CancellationFlag& m_cancel;
    const ScanProgressCallback& m_progress;
    const PictureChecks& m_checks;
    const ScanHooks& m_hooks;
    ScanCache* m_cache;
    StageTimes* m_times;
    bool m_cachedChecks;

    StageTime* time(StageTime StageTimes::*stage) { return m_times != nullptr ? &(m_times->*stage) : nullptr; }

    ScanResult m_result;
    FolderSource::Walk m_walk;
    std::vector<Candidate> m_candidates;
    std::map<std::size_t, Failure> m_failures; // by candidate index
    std::int64_t m_matched = 0;

    std::map<std::size_t, PhotoAsset> m_assets;
    std::map<std::uint64_t, VolumeInfo> m_volumes;
    std::map<std::string, bool> m_cloudFolders;
    std::map<std::string, FolderSource::NameSet> m_stems;
};

void ScanRun::report(ScanProgress::Stage stage) {
    if (!m_progress) return;
    ScanProgress progress;
    progress.stage = stage;
    progress.discovered = m_result.discovered;
    progress.examined = m_result.examined;
    progress.skipped = static_cast<std::int64_t>(m_result.skipped.size());
    progress.matched = m_matched;
    m_progress(progress);
}

ScanResult ScanRun::run(const std::vector<std::string>& roots, bool keepPictures,
                        const std::optional<FolderSource::NameSet>& only, const std::vector<std::string>& listed) {
    std::optional<StageTimer> walkTimer(time(&StageTimes::walk));
    report(ScanProgress::Stage::preparing);
    PreparedRoots prepared = FolderSource::prepare(roots);
    m_result.roots = prepared.roots;
    m_result.excluded = std::move(prepared.refused);
    m_result.started = std::chrono::system_clock::now();

    report(ScanProgress::Stage::discovering);
    m_walk = FolderSource::walk(m_result.roots, only, listed, m_cancel, [&](std::int64_t entries) {
        if (!m_progress) return;
        ScanProgress progress;
        progress.stage = ScanProgress::Stage::discovering;
        progress.discovered = entries;
        m_progress(progress);
    });
    m_result.skipped = m_walk.skipped;
    m_result.hidden = m_walk.hidden;
    m_result.excluded.insert(m_result.excluded.end(), m_walk.excluded.begin(), m_walk.excluded.end());
    m_result.otherFiles = m_walk.otherFiles;
    m_result.hardLinksFolded = m_walk.hardLinksFolded;
    m_result.discovered = m_walk.discovered;
    if (m_cache) {
        std::vector<ScanCache::Key> keys;
        keys.reserve(m_walk.found.size());
        for (const auto& found : m_walk.found) keys.push_back(ScanCache::Key::of(found));
        m_cache->seen(keys);
    }
    walkTimer.reset();
    if (m_walk.cancelled) return finish();

    report(ScanProgress::Stage::reading);
    inspect();
    if (cancelled()) return finish();
    if (m_hooks.afterInspection) m_hooks.afterInspection();

    report(ScanProgress::Stage::comparing);
    std::optional<StageTimer> sizeTimer(time(&StageTimes::size));
    const auto bySize = sizeGroups();
    sizeTimer.reset();
    const auto tentative = tentativeGroups(bySize);
    if (cancelled()) return finish();
    if (m_hooks.afterFullDigests) m_hooks.afterFullDigests();

    report(ScanProgress::Stage::verifying);
    std::optional<StageTimer> confirmTimer(time(&StageTimes::confirm));
    const auto groups = confirmed(tentative);
    confirmTimer.reset();
    if (cancelled()) return finish();
    for (const auto& [candidate, failure] : m_failures) recordFailure(candidate, failure);

    report(ScanProgress::Stage::finishing);
    finishGroups(groups, keepPictures);
    return finish();
}

void ScanRun::inspect() {
    const StageTimer timer(time(&StageTimes::inspect));
    using Outcome = FolderSource::Inspection::Outcome;
    std::vector<std::optional<FolderSource::Inspection>> inspections(m_walk.found.size());
    std::vector<std::size_t> unknown;
    for (std::size_t i = 0; i < m_walk.found.size(); ++i) {
        const FolderSource::Found& found = m_walk.found[i];
        if (m_cachedChecks) inspections[i] = m_cache->inspection(ScanCache::Key::of(found), found.format);
        if (!inspections[i]) unknown.push_back(i);
    }
    const auto inspected = parallelMap(unknown, &m_cancel, [&](std::size_t i) {
        return m_checks.inspect(m_walk.found[i].path, m_walk.found[i].format);
    });
    if (cancelled()) return;
    for (std::size_t u = 0; u < unknown.size(); ++u) {
        const FolderSource::Found& found = m_walk.found[unknown[u]];
        inspections[unknown[u]] = inspected[u];
        // A file that is no longer a plain file is no outcome of its content.
        if (m_cachedChecks && inspected[u]->outcome != Outcome::changed)
            m_cache->storeInspection(ScanCache::Key::of(found), found.format, *inspected[u]);
    }
    for (std::size_t i = 0; i < m_walk.found.size(); ++i) {
        const FolderSource::Found& found = m_walk.found[i];
        const FolderSource::Inspection& inspection = *inspections[i];
        switch (inspection.outcome) {
        case Outcome::readable:
        case Outcome::cameraNotSupported:
            m_candidates.push_back({&found, inspection.pixelWidth, inspection.pixelHeight,
                                    inspection.outcome == Outcome::readable, ScanCache::Key::of(found)});
            break;
        case Outcome::notDecodableHere:
            m_result.skipped.push_back({found.path, SkipReason::unsupportedFormat,
                                        "This computer cannot decode " + std::string(name(found.format))});
            break;
        case Outcome::damaged:
            m_result.skipped.push_back({found.path, SkipReason::corrupt, std::nullopt});
            break;
        case Outcome::changed:
            m_result.skipped.push_back({found.path, SkipReason::changedDuringScan, "It is no longer a plain file."});
            break;
        }
    }
    m_result.examined = static_cast<std::int64_t>(m_candidates.size());
}

std::vector<std::vector<std::size_t>> ScanRun::sizeGroups() const {
    std::unordered_map<std::int64_t, std::vector<std::size_t>> bySize;
    for (std::size_t i = 0; i < m_candidates.size(); ++i) bySize[m_candidates[i].snapshot().size].push_back(i);
    std::vector<std::vector<std::size_t>> groups;
    for (auto& [size, members] : bySize) {
        if (members.size() < 2) continue; // a unique size cannot have an identical copy
        std::sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) {
            return m_candidates[a].path() < m_candidates[b].path();
        });
        groups.push_back(std::move(members));
    }
    std::sort(groups.begin(), groups.end(), [&](const auto& a, const auto& b) {
        return m_candidates[a.front()].path() < m_candidates[b.front()].path();
    });
    return groups;
}

// Digests run as one batch over all size groups rather than group by group: most size groups
// hold two files, and a batch keeps every worker busy instead of two.
std::vector<Bucket> ScanRun::tentativeGroups(const std::vector<std::vector<std::size_t>>& bySize) {
    // A digest the cache holds for the file's key is the digest of these very bytes.
    const auto digestAll = [&](const std::vector<std::size_t>& members, std::optional<std::int64_t> limit) {
        std::unordered_map<std::size_t, std::string> byCandidate;
        std::vector<std::size_t> unknown;
        for (const std::size_t member : members) {
            const ScanCache::Key& key = m_candidates[member].key;
            const auto known = !m_cache ? std::nullopt : limit ? m_cache->prefixDigest(key) : m_cache->fullDigest(key);
            if (known)
                byCandidate.emplace(member, digestText(*known));
            else
                unknown.push_back(member);
        }
        const auto digests = parallelMap(unknown, &m_cancel, [&](std::size_t candidate) {
            return ContentReader::sha256(m_candidates[candidate].path(), m_candidates[candidate].snapshot(), limit,
                                         &m_cancel, m_hooks.afterRead);
        });
        for (std::size_t i = 0; i < unknown.size(); ++i) {
            if (!digests[i]) continue;
            if (digests[i]->hasValue()) {
                byCandidate.emplace(unknown[i], digests[i]->value());
                if (!m_cache) continue;
                const Candidate& candidate = m_candidates[unknown[i]];
                const auto bytes = digestBytes(digests[i]->value());
                if (!limit)
                    m_cache->storeFullDigest(candidate.key, bytes);
                else {
                    m_cache->storePrefixDigest(candidate.key, bytes);
                    if (candidate.snapshot().size <= *limit) m_cache->storeFullDigest(candidate.key, bytes);
                }
            } else {
                m_failures.emplace(unknown[i], digests[i]->error());
            }
        }
        return byCandidate;
    };
    const auto keyIn = [](const std::unordered_map<std::size_t, std::string>& digests) {
        return [&digests](std::size_t candidate) -> std::optional<std::string> {
            const auto found = digests.find(candidate);
            if (found == digests.end()) return std::nullopt;
            return found->second;
        };
    };

    std::vector<std::size_t> all;
    for (const auto& group : bySize) all.insert(all.end(), group.begin(), group.end());
    std::optional<StageTimer> prefixTimer(time(&StageTimes::prefixDigest));
    const auto prefixes = digestAll(all, prefixBytes);
    prefixTimer.reset();
    if (cancelled()) return {};

    // Files no longer than the prefix were read whole already: their prefix digest is final.
    std::vector<std::vector<Bucket>> prefixBuckets;
    std::vector<std::size_t> needFull;
    for (const auto& group : bySize) {
        prefixBuckets.push_back(bucketed(group, keyIn(prefixes)));
        const bool small = m_candidates[group.front()].snapshot().size <= prefixBytes;
        for (const auto& bucket : prefixBuckets.back())
            if (bucket.members.size() >= 2 && !small)
                needFull.insert(needFull.end(), bucket.members.begin(), bucket.members.end());
    }
    if (m_hooks.afterPrefixDigests) m_hooks.afterPrefixDigests();
    std::optional<StageTimer> fullTimer(time(&StageTimes::fullDigest));
    const auto full = digestAll(needFull, std::nullopt);
    fullTimer.reset();
    if (cancelled()) return {};

    std::vector<Bucket> tentative;
    for (std::size_t g = 0; g < bySize.size(); ++g) {
        const bool small = m_candidates[bySize[g].front()].snapshot().size <= prefixBytes;
        for (const auto& bucket : prefixBuckets[g]) {
            if (bucket.members.size() < 2) continue;
            for (auto& group : small ? std::vector<Bucket>{bucket} : bucketed(bucket.members, keyIn(full))) {
                if (group.members.size() < 2) continue;
                m_matched += static_cast<std::int64_t>(group.members.size());
                tentative.push_back(std::move(group));
            }
        }
        report(ScanProgress::Stage::comparing);
    }
    return tentative;
}

// Every member is compared with the group's first member. The comparisons of all groups run as
// one batch; a group whose first member turns out to have changed is confirmed again one by one.
std::vector<Bucket> ScanRun::confirmed(std::vector<Bucket> tentative) {
    struct Pair {
        std::size_t group;
        std::size_t member;
    };
    std::vector<Pair> pairs;
    for (std::size_t g = 0; g < tentative.size(); ++g)
        for (std::size_t m = 1; m < tentative[g].members.size(); ++m) pairs.push_back({g, m});
    const auto compare = [&](std::size_t a, std::size_t b) {
        return ContentReader::sameBytes(m_candidates[a].path(), m_candidates[a].snapshot(), m_candidates[b].path(),
                                        m_candidates[b].snapshot(), &m_cancel, m_hooks.afterRead);
    };
    const auto outcomes = parallelMap(pairs, &m_cancel, [&](const Pair& pair) -> Result<bool, Failure> {
        const auto& members = tentative[pair.group].members;
        // Two files confirmed identical while they had these very keys need no new reading.
        if (m_cache && m_cache->knownIdentical(m_candidates[members.front()].key, m_candidates[members[pair.member]].key))
            return true;
        return compare(members.front(), members[pair.member]);
    });
    if (cancelled()) return {};

    const auto firstHasChanged = [&](std::size_t candidate) {
        const auto now = FileSnapshot::read(m_candidates[candidate].path());
        return !now || !now->isUnchanged(m_candidates[candidate].snapshot());
    };
    std::vector<Bucket> groups;
    std::size_t next = 0;
    for (auto& group : tentative) {
        std::vector<std::size_t> kept{group.members.front()};
        bool redo = false;
        for (std::size_t m = 1; m < group.members.size(); ++m, ++next) {
            const auto& outcome = *outcomes[next];
            if (outcome.hasValue()) {
                if (outcome.value()) kept.push_back(group.members[m]);
            } else if (outcome.error().kind == Failure::Kind::changed && firstHasChanged(group.members.front())) {
                redo = true;
            } else {
                m_failures.emplace(group.members[m], outcome.error());
            }
        }
        if (redo) kept = confirmGroupOneByOne(group.members);
        if (kept.size() < 2) continue;
        if (m_cache) {
            std::vector<ScanCache::Key> keys;
            for (const std::size_t member : kept) keys.push_back(m_candidates[member].key);
            m_cache->storeIdentical(keys);
        }
        groups.push_back({group.digest, std::move(kept)});
    }
    return groups;
}

std::vector<std::size_t> ScanRun::confirmGroupOneByOne(std::vector<std::size_t> members) {
    while (members.size() >= 2 && !cancelled()) {
        const std::size_t first = members.front();
        std::vector<std::size_t> kept{first};
        bool firstChanged = false;
        for (std::size_t m = 1; m < members.size() && !firstChanged; ++m) {
            const auto outcome = ContentReader::sameBytes(m_candidates[first].path(), m_candidates[first].snapshot(),
                                                          m_candidates[members[m]].path(),
                                                          m_candidates[members[m]].snapshot(), &m_cancel, {});
            if (outcome.hasValue()) {
                if (outcome.value()) kept.push_back(members[m]);
                continue;
            }
            const auto now = FileSnapshot::read(m_candidates[first].path());
            firstChanged = outcome.error().kind == Failure::Kind::changed &&
                           (!now || !now->isUnchanged(m_candidates[first].snapshot()));
            if (!firstChanged) m_failures.emplace(members[m], outcome.error());
        }
        if (!firstChanged) return kept;
        m_failures.emplace(first, Failure::changed());
        members.erase(members.begin());
    }
    return {};
}

void ScanRun::recordFailure(std::size_t candidate, const Failure& failure) {
    const std::string& path = m_candidates[candidate].path();
    switch (failure.kind) {
    case Failure::Kind::changed: m_result.skipped.push_back({path, SkipReason::changedDuringScan, std::nullopt}); break;
    case Failure::Kind::unreadable: m_result.skipped.push_back({path, SkipReason::unreadable, failure.message}); break;
    case Failure::Kind::cancelled: break;
    }
}

void ScanRun::finishGroups(const std::vector<Bucket>& groups, bool keepPictures) {
    std::optional<StageTimer> decodeTimer(time(&StageTimes::decode));
    const auto decodes = parallelMap(groups, &m_cancel, [&](const Bucket& group) {
        const Candidate& first = m_candidates[group.members.front()];
        if (!first.rendersHere) return true;
        if (!m_cachedChecks) return m_checks.decodesFully(first.path());
        // The verdict belongs to the bytes: any earlier decode of this content through the same
        // decoder (the extension picks it) answers for this one.
        const ScanCache::Digest digest = digestBytes(group.digest);
        const std::string extension = lowercased(pathExtension(first.path()));
        if (const auto known = m_cache->decodes(digest, extension)) return *known;
        const bool before = currentKey(first.path()) == first.key;
        const bool decodes = m_checks.decodesFully(first.path());
        // Only a verdict on the bytes that were digested is kept.
        if (before && currentKey(first.path()) == first.key) m_cache->storeDecodes(digest, extension, decodes);
        return decodes;
    });
    decodeTimer.reset();
    const StageTimer finishTimer(time(&StageTimes::finish));
    std::vector<bool> dropped(m_candidates.size(), false);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (!decodes[g]) break; // cancelled
        const Bucket& group = groups[g];
        if (!*decodes[g]) {
            for (const std::size_t member : group.members) {
                dropped[member] = true;
                const Candidate& candidate = m_candidates[member];
                if (candidate.found->format == PhotoFormat::raw)
                    m_result.skipped.push_back({candidate.path(), SkipReason::unsupportedFormat,
                                                "This computer cannot render this camera's RAW"});
                else
                    m_result.skipped.push_back({candidate.path(), SkipReason::corrupt, std::nullopt});
            }
            continue;
        }
        DuplicateGroup duplicate{group.digest, m_candidates[group.members.front()].snapshot().size, {},
                                 MatchKind::identical, std::nullopt};
        for (const std::size_t member : group.members) duplicate.members.push_back(asset(member));
        m_result.groups.push_back(std::move(duplicate));
    }
    if (!keepPictures || cancelled()) return;
    for (std::size_t i = 0; i < m_candidates.size(); ++i)
        if (!dropped[i] && !m_failures.contains(i)) m_result.pictures.push_back(asset(i));
}

const PhotoAsset& ScanRun::asset(std::size_t candidateIndex) {
    if (const auto built = m_assets.find(candidateIndex); built != m_assets.end()) return built->second;
    const Candidate& candidate = m_candidates[candidateIndex];
    const FolderSource::Found& found = *candidate.found;
    const std::string folder = deletingLastPathComponent(found.path);

    PhotoAsset photo;
    photo.path = found.path;
    photo.root = found.root;
    photo.snapshot = found.snapshot;
    photo.format = found.format;
    photo.pixelWidth = candidate.width;
    photo.pixelHeight = candidate.height;
    if (const auto names = m_walk.otherNames.find(found.snapshot.identity); names != m_walk.otherNames.end())
        photo.otherNames = names->second;
    const auto& names = m_walk.namesByFolder[folder];
    auto stems = m_stems.find(folder);
    if (stems == m_stems.end()) stems = m_stems.emplace(folder, FolderSource::stems(names)).first;
    photo.relationships = FolderSource::relationships(found.path, names, stems->second);
    auto cloud = m_cloudFolders.find(folder);
    if (cloud == m_cloudFolders.end()) cloud = m_cloudFolders.emplace(folder, isCloudSynced(folder)).first;
    photo.isCloudSynced = cloud->second;
    auto volume = m_volumes.find(found.snapshot.identity.device);
    if (volume == m_volumes.end()) volume = m_volumes.emplace(found.snapshot.identity.device, VolumeInfo::of(found.path)).first;
    photo.isReadOnlyVolume = volume->second.isReadOnly;
    photo.volumeName = volume->second.name;
    photo.isExternalVolume = volume->second.isExternal;
    photo.rendersHere = candidate.rendersHere;
    return m_assets.emplace(candidateIndex, std::move(photo)).first->second;
}

ScanResult ScanRun::finish() {
    const StageTimer timer(time(&StageTimes::finish));
    // What was learned is kept even when the scan was cancelled: each entry stands on its own.
    if (m_cache) m_cache->save();
    std::stable_sort(m_result.groups.begin(), m_result.groups.end(),
                     [](const DuplicateGroup& a, const DuplicateGroup& b) {
                         const auto spareA = static_cast<std::int64_t>(a.members.size() - 1) * a.size;
                         const auto spareB = static_cast<std::int64_t>(b.members.size() - 1) * b.size;
                         if (spareA != spareB) return spareA > spareB;
                         return a.members.front().path < b.members.front().path;
                     });
    m_result.finished = std::chrono::system_clock::now();
    m_result.cancelled = cancelled();
    return std::move(m_result);
}

} // namespace

ScanResult scan(const std::vector<std::string>& roots, bool keepPictures,
                const std::optional<FolderSource::NameSet>& only, const std::vector<std::string>& listed,
                const CancellationFlag& cancel, const ScanProgressCallback& progress, const PictureChecks& checks,
                const ScanHooks& hooks, const ScanAids& aids) {
    return ScanRun(cancel, progress, checks, hooks, aids).run(roots, keepPictures, only, listed);
}

} // namespace vp::ExactMatcher
