// Measurements of earlier scans, kept on disk so that a second scan of the same files reads
// only what is new or changed. Keyed by file identity, size and modification time: an edited,
// replaced or copied file gets a new key; a file renamed on its volume keeps its key.
#pragma once

#include "ImageFeatures.h"

#include "engine/scan/FileSnapshot.h"
#include "engine/scan/PhotoAsset.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace vp {

/// Shared between worker threads: one lock guards the entries; reading and measuring
/// pictures happen outside it.
class FeatureCache {
public:
    /// Loads the file when there is one; a missing, damaged or foreign file gives an empty cache.
    /// Without a path the cache lives in memory only.
    explicit FeatureCache(std::optional<std::string> path = std::nullopt);

    /// "device:inode:size:seconds.nanoseconds".
    static std::string key(const FileSnapshot& snapshot);

    /// A stored measurement that is still valid for this pipeline; a face reading of another
    /// revision is left off it.
    std::optional<ImageFeatures> lookup(const PhotoAsset& asset) const;
    /// The stored face reading, when it is of the current revision.
    std::optional<FaceReading> faces(const PhotoAsset& asset) const;
    void store(const PhotoAsset& asset, const ImageFeatures& features);
    /// Sets the reading on the picture's entry; does nothing when there is no entry.
    void storeFaces(const FaceReading& reading, const PhotoAsset& asset);
    /// Writes the file atomically when something changed. Failures are ignored: the file is
    /// written again after the next change.
    void save();

    std::size_t count() const;

private:
    std::optional<std::string> m_path;
    mutable std::mutex m_mutex;
    std::map<std::string, ImageFeatures> m_entries;
    bool m_dirty = false;
};

namespace FeatureCacheFile {
/// The entries of a binary property list; empty when the data is not one of ours. Entries that
/// do not decode are left out.
std::map<std::string, ImageFeatures> decode(const std::string& data);
/// A binary property list: a dictionary from key to a dictionary of the record's fields.
std::string encode(const std::map<std::string, ImageFeatures>& entries);
} // namespace FeatureCacheFile

} // namespace vp
