// Videos planned for compression the way the scan plans them, in a temporary folder with a
// real Trash in a temporary home.
#pragma once

#include "engine/media/Compression.h"
#include "engine/media/VideoCompressor.h"
#include "tests/cleanup/CleanupFixtures.h"
#include "tests/support/Clips.h"

#include <dirent.h>
#include <string>
#include <vector>

namespace vp::testing {

/// A candidate record for a clip on disk, as the scan would make it.
inline VideoItem candidateFor(const std::string& path, const std::string& root) {
    VideoItem video;
    video.path = path;
    video.root = root;
    video.snapshot = *FileSnapshot::read(path);
    video.codec = "avc1";
    video.estimatedSize = video.snapshot.size / 4;
    return video;
}

/// The names in a folder, hidden ones included, without "." and "..".
inline std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* listing = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(listing))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.push_back(entry->d_name);
        ::closedir(listing);
    }
    std::sort(names.begin(), names.end());
    return names;
}

/// A clip with enough detail that its HEVC copy is clearly smaller.
inline std::string detailedClip(const std::string& path, double seconds = 1.0) {
    return makeClip(path, {.width = 320, .height = 240, .seconds = seconds, .frameRate = 15, .quality = 4});
}

} // namespace vp::testing
