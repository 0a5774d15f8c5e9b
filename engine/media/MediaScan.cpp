#include "MediaScan.h"

#include "engine/common/Text.h"

#include <algorithm>

namespace vp {

std::int64_t VideoItem::estimatedSavings() const {
    if (!estimatedSize) return 0;
    return std::max<std::int64_t>(0, snapshot.size - *estimatedSize);
}

std::string VideoItem::name() const { return libraryFilename ? *libraryFilename : lastPathComponent(path); }

std::string VideoItem::folder() const { return isInLibrary() ? "Photos Library" : deletingLastPathComponent(path); }

bool VideoItem::isInLibrary() const { return startsWith(path, libraryPathPrefix); }

std::string VideoItem::codecName() const {
    if (codec == "hvc1" || codec == "hev1") return "HEVC";
    if (codec == "avc1" || codec == "avc3") return "H.264";
    if (codec == "ap4h" || codec == "apcn" || codec == "apch" || codec == "apcs" || codec == "apco") return "ProRes";
    return uppercased(codec);
}

std::string LivePhotoPair::name() const { return libraryFilename ? *libraryFilename : lastPathComponent(still); }

bool LivePhotoPair::isInLibrary() const { return startsWith(still, libraryPathPrefix); }

std::vector<VideoItem> MediaScan::candidates() const {
    std::vector<VideoItem> found;
    std::copy_if(videos.begin(), videos.end(), std::back_inserter(found), [](const VideoItem& video) { return video.isCandidate(); });
    return found;
}

} // namespace vp
