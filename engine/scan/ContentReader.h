// Reading file contents for comparison: a streaming SHA-256 and a streaming byte-for-byte
// comparison. Both check, before and after reading, that the open file is still the file the
// walk saw, so a file replaced or edited in between is never trusted.
#pragma once

#include "CancellationFlag.h"
#include "FileSnapshot.h"

#include "engine/common/Result.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vp::ContentReader {

/// Why a read gave no answer.
struct Failure {
    enum class Kind { unreadable, changed, cancelled };
    Kind kind = Kind::unreadable;
    std::string message; ///< the system's error text, for unreadable

    static Failure unreadable(std::string message) { return {Kind::unreadable, std::move(message)}; }
    static Failure changed() { return {Kind::changed, {}}; }
    static Failure cancelled() { return {Kind::cancelled, {}}; }
    bool operator==(const Failure&) const = default;
};

/// Called with the path after each buffer is read; lets tests change a file mid-read.
using ReadHook = std::function<void(const std::string& path)>;

inline constexpr std::size_t bufferSize = 1 << 20;

/// True when the open descriptor still has the snapshot's device, inode, size and
/// modification time.
bool matches(int fd, const FileSnapshot& snapshot);

/// Lower-case hexadecimal SHA-256 of the first `limit` bytes (the whole file when absent).
/// Streams through one 1 MiB buffer; never holds the file.
Result<std::string, Failure> sha256(const std::string& path, const FileSnapshot& expecting,
                                    std::optional<std::int64_t> limit, const CancellationFlag* cancel,
                                    const ReadHook& afterRead = {});

/// Whether the two files hold exactly the same bytes.
Result<bool, Failure> sameBytes(const std::string& pathA, const FileSnapshot& snapshotA, const std::string& pathB,
                                const FileSnapshot& snapshotB, const CancellationFlag* cancel,
                                const ReadHook& afterRead = {});

} // namespace vp::ContentReader
