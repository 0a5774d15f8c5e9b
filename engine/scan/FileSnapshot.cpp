#include "FileSnapshot.h"

namespace vp {

std::string FileIdentity::text() const {
    return "device " + std::to_string(device) + ", inode " + std::to_string(inode);
}

FileSnapshot FileSnapshot::fromStatus(const struct stat& status) {
    FileSnapshot snapshot;
    snapshot.identity = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    snapshot.size = static_cast<std::int64_t>(status.st_size);
    snapshot.modifiedSeconds = static_cast<std::int64_t>(status.st_mtim.tv_sec);
    snapshot.modifiedNanoseconds = static_cast<std::int64_t>(status.st_mtim.tv_nsec);
    snapshot.linkCount = static_cast<std::uint32_t>(status.st_nlink);
    snapshot.isRegularFile = S_ISREG(status.st_mode);
    snapshot.isSymbolicLink = S_ISLNK(status.st_mode);
    snapshot.flags = 0;
    return snapshot;
}

std::optional<FileSnapshot> FileSnapshot::read(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return std::nullopt;
    return fromStatus(status);
}

bool FileSnapshot::isUnchanged(const FileSnapshot& other) const {
    return identity == other.identity && size == other.size && modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds && isRegularFile == other.isRegularFile &&
           isSymbolicLink == other.isSymbolicLink;
}

Timestamp FileSnapshot::modified() const {
    using namespace std::chrono;
    return Timestamp(duration_cast<Timestamp::duration>(seconds(modifiedSeconds) +
                                                        nanoseconds(modifiedNanoseconds)));
}

} // namespace vp
