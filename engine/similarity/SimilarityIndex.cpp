#include "SimilarityIndex.h"

#include "engine/common/Digest.h"
#include "engine/common/Text.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <numeric>
#include <mutex>
#include <set>
#include <unordered_map>

namespace vp {

std::string_view name(SimilarityPreset preset) {
    switch (preset) {
    case SimilarityPreset::conservative: return "Conservative";
    case SimilarityPreset::balanced: return "Balanced";
    case SimilarityPreset::broad: return "Broad";
    }
    return {};
}

std::string_view explanation(SimilarityPreset preset) {
    switch (preset) {
    case SimilarityPreset::conservative:
        return "Only near-copies: resized, re-saved, rotated or lightly edited versions of one photo.";
    case SimilarityPreset::balanced: return "Also lightly cropped or filtered versions. Check each group.";
    case SimilarityPreset::broad:
        return "Reaches further and will include look-alikes that are different photos. Check every group carefully.";
    }
    return {};
}

bool accepts(SimilarityPreset preset, const SimilarPair& pair) {
    if (!pair.shapesAgree) return false;
    switch (preset) {
    case SimilarityPreset::conservative:
        return pair.distance <= SimilarityThresholds::conservative &&
               pair.detail <= SimilarityThresholds::conservativeDetail;
    case SimilarityPreset::balanced: return pair.distance <= SimilarityThresholds::balanced;
    case SimilarityPreset::broad: return pair.distance <= SimilarityThresholds::broad;
    }
    return false;
}

DuplicateGroup makeGroup(const std::vector<PhotoAsset>& pictures, const std::vector<std::int64_t>& indices,
                         MatchKind kind, std::optional<float> spread) {
    DuplicateGroup group;
    std::vector<std::string> paths;
    for (const auto index : indices) {
        const PhotoAsset& picture = pictures[static_cast<std::size_t>(index)];
        group.members.push_back(picture);
        group.size = std::max(group.size, picture.snapshot.size);
        paths.push_back(picture.path);
    }
    group.kind = kind;
    group.spread = spread;
    group.id = std::string(rawValue(kind)) + "-" + sha256Hex(joined(paths, "\n"));
    return group;
}

namespace {

/// Distances of unordered picture pairs; a later pair with the same two pictures replaces an earlier one.
class PairDistances {
public:
    explicit PairDistances(std::size_t count) : m_count(count) {}
    void record(const SimilarPair& pair) { m_distances[key(pair.a, pair.b)] = pair.distance; }
    std::optional<float> distance(std::int64_t i, std::int64_t j) const {
        const auto found = m_distances.find(key(i, j));
        if (found == m_distances.end()) return std::nullopt;
        return found->second;
    }

private:
    std::uint64_t key(std::int64_t i, std::int64_t j) const {
        const auto low = static_cast<std::uint64_t>(std::min(i, j)), high = static_cast<std::uint64_t>(std::max(i, j));
        return low * m_count + high;
    }
    std::uint64_t m_count;
    std::unordered_map<std::uint64_t, float> m_distances;
};

/// The dated, measured pictures of each folder in the order they were taken, with the recorded
/// pair of every two consecutive ones: the only pairs that bursts read, so that an index of many
/// pairs is walked once instead of copied into a map.
struct ShotsByFolder {
    std::vector<std::vector<std::int64_t>> folders;
    std::unordered_map<std::uint64_t, const SimilarPair*> consecutive; // a later pair replaces an earlier one
    std::uint64_t count = 0;

    std::uint64_t key(std::int64_t i, std::int64_t j) const {
        return static_cast<std::uint64_t>(std::min(i, j)) * count + static_cast<std::uint64_t>(std::max(i, j));
    }
    const SimilarPair* pairOf(std::int64_t i, std::int64_t j) const {
        const auto found = consecutive.find(key(i, j));
        return found == consecutive.end() ? nullptr : found->second;
    }
};

ShotsByFolder shotsByFolder(const SimilarityIndex& index) {
    const auto& features = index.features;
    std::map<std::string, std::vector<std::int64_t>> byFolder;
    for (std::size_t i = 0; i < index.pictures.size(); ++i)
        if (i < features.size() && features[i] && features[i]->captureDate)
            byFolder[index.pictures[i].folder()].push_back(static_cast<std::int64_t>(i));
    const auto dateOf = [&](std::int64_t i) { return *features[static_cast<std::size_t>(i)]->captureDate; };
    ShotsByFolder shots;
    shots.count = index.pictures.size();
    for (auto& [folder, members] : byFolder) {
        std::sort(members.begin(), members.end(), [&](std::int64_t x, std::int64_t y) {
            return dateOf(x) != dateOf(y) ? dateOf(x) < dateOf(y) : x < y;
        });
        for (std::size_t k = 1; k < members.size(); ++k) shots.consecutive.emplace(shots.key(members[k - 1], members[k]), nullptr);
        shots.folders.push_back(std::move(members));
    }
    for (const auto& pair : index.pairs)
        if (const auto found = shots.consecutive.find(shots.key(pair.a, pair.b)); found != shots.consecutive.end())
            found->second = &pair;
    return shots;
}

/// The runs of related shots, each at most `window` seconds after the previous, in one folder, in
/// the order they were taken; runs of one shot are left out.
std::vector<std::vector<std::int64_t>> burstRuns(const SimilarityIndex& index, const ShotsByFolder& shots,
                                                 double window, double relatedDistance) {
    std::vector<std::vector<std::int64_t>> runs;
    const auto dateOf = [&](std::int64_t i) { return *index.features[static_cast<std::size_t>(i)]->captureDate; };
    const auto emit = [&](std::vector<std::int64_t> run) {
        if (run.size() >= 2) runs.push_back(std::move(run));
    };
    for (const auto& folder : shots.folders) {
        // The run's last shot is always the previous one: a shot either joins the run or starts one.
        std::vector<std::int64_t> run{folder.front()};
        for (std::size_t k = 1; k < folder.size(); ++k) {
            const SimilarPair* pair = shots.pairOf(folder[k - 1], folder[k]);
            const bool related = pair && pair->distance <= relatedDistance;
            const bool close = std::chrono::duration<double>(dateOf(folder[k]) - dateOf(folder[k - 1])).count() <= window;
            if (!(related && close)) {
                emit(std::move(run));
                run.clear();
            }
            run.push_back(folder[k]);
        }
        emit(std::move(run));
    }
    return runs;
}

/// Puts the look-alike shots of each burst into one cluster when any of them is in a look-alike
/// group, so that a burst is never split over groups that would each keep a shot, nor leaves
/// shots beside its group that a cleanup would keep as well. Complete linkage splits a burst
/// whose shots drift a little with each frame; here two shots of a burst need only be linked by a
/// chain of pairs within the broadest look-alike distance, which two different photos shot a
/// second apart are not (the series rule alone accepts nearly any two pictures).
void joinBursts(const SimilarityIndex& index, std::vector<std::size_t>& label,
                std::vector<std::vector<std::int64_t>>& clusters) {
    const auto runs = burstRuns(index, shotsByFolder(index), SimilarityThresholds::seriesWindow,
                                SimilarityThresholds::seriesRelated);
    if (runs.empty()) return;
    constexpr std::size_t none = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> runOf(label.size(), none), linked(label.size());
    for (std::size_t r = 0; r < runs.size(); ++r)
        for (const auto shot : runs[r]) runOf[static_cast<std::size_t>(shot)] = r;
    std::iota(linked.begin(), linked.end(), std::size_t{0});
    const auto root = [&](std::size_t i) {
        while (linked[i] != i) i = linked[i] = linked[linked[i]];
        return i;
    };
    for (const auto& pair : index.pairs) {
        const auto a = static_cast<std::size_t>(pair.a), b = static_cast<std::size_t>(pair.b);
        if (a >= runOf.size() || b >= runOf.size() || runOf[a] == none || runOf[a] != runOf[b] || !pair.shapesAgree || pair.distance > SimilarityThresholds::broad)
            continue;
        linked[std::max(root(a), root(b))] = std::min(root(a), root(b));
    }
    std::map<std::size_t, std::vector<std::int64_t>> bursts; // by the linked shots' root
    for (const auto& run : runs)
        for (const auto shot : run) bursts[root(static_cast<std::size_t>(shot))].push_back(shot);
    for (const auto& [first, shots] : bursts) {
        const bool grouped = std::any_of(shots.begin(), shots.end(), [&](std::int64_t shot) {
            return clusters[label[static_cast<std::size_t>(shot)]].size() >= 2;
        });
        if (shots.size() < 2 || !grouped) continue;
        std::size_t keep = label[static_cast<std::size_t>(shots.front())];
        for (const auto shot : shots) keep = std::min(keep, label[static_cast<std::size_t>(shot)]);
        for (const auto shot : shots) {
            const std::size_t other = label[static_cast<std::size_t>(shot)];
            if (other == keep) continue;
            for (const auto member : clusters[other]) label[static_cast<std::size_t>(member)] = keep;
            clusters[keep].insert(clusters[keep].end(), clusters[other].begin(), clusters[other].end());
            clusters[other].clear();
        }
    }
}

} // namespace

std::vector<DuplicateGroup> SimilarityIndex::groups(SimilarityPreset preset) const {
    return groups([preset](const SimilarPair& pair) { return accepts(preset, pair); });
}

std::vector<DuplicateGroup> SimilarityIndex::groups(const std::function<bool(const SimilarPair&)>& accepts) const {
    const std::size_t count = pictures.size();
    PairDistances accepted(count);
    std::vector<SimilarPair> order;
    for (const auto& pair : pairs) {
        if (!accepts(pair)) continue;
        accepted.record(pair);
        order.push_back(pair);
    }
    std::sort(order.begin(), order.end(), [](const SimilarPair& x, const SimilarPair& y) {
        if (x.distance != y.distance) return x.distance < y.distance;
        return x.a != y.a ? x.a < y.a : x.b < y.b;
    });

    // Complete linkage: two clusters merge only when every cross pair was accepted, so a chain
    // A-B, B-C never pulls in C when A-C was not accepted.
    std::vector<std::size_t> label(count);
    std::vector<std::vector<std::int64_t>> clusters(count);
    for (std::size_t i = 0; i < count; ++i) {
        label[i] = i;
        clusters[i] = {static_cast<std::int64_t>(i)};
    }
    for (const auto& pair : order) {
        const std::size_t first = label[static_cast<std::size_t>(pair.a)];
        const std::size_t second = label[static_cast<std::size_t>(pair.b)];
        if (first == second) continue;
        const bool everyCrossPair = std::all_of(clusters[first].begin(), clusters[first].end(), [&](std::int64_t x) {
            return std::all_of(clusters[second].begin(), clusters[second].end(),
                               [&](std::int64_t y) { return accepted.distance(x, y).has_value(); });
        });
        if (!everyCrossPair) continue;
        const std::size_t keep = std::min(first, second), other = std::max(first, second);
        for (const auto member : clusters[other]) label[static_cast<std::size_t>(member)] = keep;
        clusters[keep].insert(clusters[keep].end(), clusters[other].begin(), clusters[other].end());
        clusters[other].clear();
    }
    joinBursts(*this, label, clusters);

    std::vector<DuplicateGroup> result;
    for (auto& members : clusters) {
        if (members.size() < 2) continue;
        std::sort(members.begin(), members.end());
        float spread = 0;
        for (std::size_t x = 0; x < members.size(); ++x)
            for (std::size_t y = x + 1; y < members.size(); ++y)
                spread = std::max(spread, accepted.distance(members[x], members[y]).value_or(0));
        result.push_back(makeGroup(pictures, members, MatchKind::similar, spread));
    }
    std::stable_sort(result.begin(), result.end(), [](const DuplicateGroup& x, const DuplicateGroup& y) {
        if (x.extraBytes() != y.extraBytes()) return x.extraBytes() > y.extraBytes();
        return x.members.front().path < y.members.front().path;
    });
    return result;
}

std::vector<DuplicateGroup> SimilarityIndex::series(double window, double relatedDistance) const {
    std::vector<DuplicateGroup> result;
    for (auto run : burstRuns(*this, shotsByFolder(*this), window, relatedDistance)) {
        std::sort(run.begin(), run.end());
        result.push_back(makeGroup(pictures, run, MatchKind::series, std::nullopt));
    }
    std::stable_sort(result.begin(), result.end(), [](const DuplicateGroup& x, const DuplicateGroup& y) {
        return x.members.front().path < y.members.front().path;
    });
    return result;
}

struct SimilarityIndex::Lookup {
    std::unordered_map<std::string, std::size_t> firstByPath;
};

std::optional<std::size_t> SimilarityIndex::indexOf(const PhotoAsset& asset) const {
    // The lookup is made on first use and shared by copies; one lock for all indexes is enough,
    // as it is held only to fetch or make the map.
    static std::mutex lookupMutex;
    std::shared_ptr<const Lookup> lookup;
    {
        std::lock_guard lock(lookupMutex);
        if (!m_lookup) {
            auto made = std::make_shared<Lookup>();
            for (std::size_t i = 0; i < pictures.size(); ++i) made->firstByPath.try_emplace(pictures[i].path, i);
            m_lookup = std::move(made);
        }
        lookup = m_lookup;
    }
    std::optional<std::size_t> candidate;
    if (const auto found = lookup->firstByPath.find(asset.path); found != lookup->firstByPath.end())
        candidate = found->second;
    if (candidate && *candidate < pictures.size() && pictures[*candidate] == asset) return candidate;
    // Several records of one path, or pictures changed after the lookup was made: look at them all.
    for (std::size_t i = 0; i < pictures.size(); ++i)
        if (pictures[i] == asset) return i;
    return std::nullopt;
}

std::optional<ImageFeatures> SimilarityIndex::featuresFor(const PhotoAsset& asset) const {
    const auto index = indexOf(asset);
    if (!index || *index >= features.size()) return std::nullopt;
    return features[*index];
}

std::vector<std::int64_t> SimilarityIndex::paired() const {
    std::set<std::int64_t> indices;
    for (const auto& pair : pairs) {
        indices.insert(pair.a);
        indices.insert(pair.b);
    }
    return {indices.begin(), indices.end()};
}

SimilarityIndex SimilarityIndex::withFaces(const std::map<std::int64_t, FaceReading>& readings) const {
    SimilarityIndex copy = *this;
    for (const auto& [index, reading] : readings) {
        if (index < 0 || static_cast<std::size_t>(index) >= copy.features.size()) continue;
        auto& measured = copy.features[static_cast<std::size_t>(index)];
        if (measured) measured->faces = reading;
    }
    return copy;
}

bool SimilarityIndex::operator==(const SimilarityIndex& other) const {
    return pictures == other.pictures && features == other.features && pairs == other.pairs &&
           candidatesProposed == other.candidatesProposed && unmeasured == other.unmeasured;
}

} // namespace vp
