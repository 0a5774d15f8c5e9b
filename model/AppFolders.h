// Where the application keeps its settings and its files, after the XDG base directories.
#pragma once

#include <optional>
#include <string>

namespace vp {

struct AppFolders {
    std::string config;    ///< $XDG_CONFIG_HOME/velmo-pristel
    std::string data;      ///< $XDG_DATA_HOME/velmo-pristel/PhotoCleanup
    std::string downloads; ///< the Downloads folder of user-dirs.dirs, else ~/Downloads
    std::string cache = {}; ///< $XDG_CACHE_HOME/velmo-pristel; empty: caches live in memory only

    /// The folders of the person whose home is `home`, from the environment.
    static AppFolders standard(const std::string& home);

    std::string settingsFile() const { return config + "/settings.json"; }
    std::string cleanups() const { return data + "/Cleanups"; }
    std::string compressions() const { return data + "/Compressions"; }
    std::string lightroom() const { return data + "/Lightroom"; }
    std::string captureOne() const { return data + "/Capture One"; }
    std::string locksFile() const { return data + "/keep-locks.json"; }
    std::string featuresFile() const { return data + "/features.plist"; }
    /// The exact scan's cache (ScanCache); absent without a cache folder.
    std::optional<std::string> scanCacheFile() const {
        return cache.empty() ? std::nullopt : std::optional(cache + "/exact-scan.cache");
    }
};

/// XDG_DOWNLOAD_DIR from a user-dirs.dirs text ("$HOME/Downloads" with $HOME expanded); empty when
/// the text does not name one.
std::string downloadFolderIn(const std::string& userDirs, const std::string& home);

} // namespace vp
