// Reading the application's own small files (records, settings, caches) without trusting what
// stands at their path: a FIFO would block the reader for good, a device or a link to /dev/zero
// would never end, and a huge file would exhaust memory.
#pragma once

#include <cstdint>
#include <string>

namespace vp {

struct RegularFileRead {
    enum class Status {
        read,        ///< `content` holds the whole file
        missing,     ///< nothing at the path (or a folder on the way is missing)
        notRegular,  ///< a link, FIFO, device, socket or folder stands there
        tooLarge,    ///< larger than the bound given
        unreadable,  ///< it exists but could not be opened or read; `error` says why
    };
    Status status = Status::missing;
    std::string content;
    int error = 0; ///< the error number for `unreadable`

    bool ok() const { return status == Status::read; }
    /// Why a file that is there was not read, in words that follow "because": "it is not a plain
    /// file", "it is far too large", or the system's text; empty when it was read or is missing.
    std::string why() const;
};

/// Opens `path` without following a final link and without blocking (O_NOFOLLOW|O_NONBLOCK),
/// checks with fstat that it is a regular file of at most `maxBytes`, and reads it whole.
RegularFileRead readRegularFile(const std::string& path, std::int64_t maxBytes);

} // namespace vp
