#include "ContentReader.h"

#include "engine/common/Text.h"
#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vp::ContentReader {

namespace {

class OpenFile {
public:
    // Never blocking: a FIFO put where the file was would hold an ordinary open for good. What
    // is opened is then compared with the snapshot, which only a plain file can match.
    explicit OpenFile(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {
        if (m_fd < 0) m_error = errno;
    }
    ~OpenFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    int error() const { return m_error; }

    /// Reads until `count` bytes or the end of the file; -1 on error (errno set).
    ssize_t fill(unsigned char* buffer, std::size_t count) const {
        std::size_t filled = 0;
        while (filled < count) {
            const ssize_t got = ::read(m_fd, buffer + filled, count - filled);
            if (got < 0) {
                if (errno == EINTR) continue;
                return -1;
            }
            if (got == 0) break;
            filled += static_cast<std::size_t>(got);
        }
        return static_cast<ssize_t>(filled);
    }

private:
    int m_fd = -1;
    int m_error = 0;
};

// Each worker thread keeps its buffers for its lifetime: allocating 1 MiB per file would
// fault the same pages in again for every one of thousands of files.
unsigned char* threadBuffer(int which) {
    thread_local std::vector<unsigned char> buffers[2];
    auto& buffer = buffers[which];
    if (buffer.size() != bufferSize) buffer.resize(bufferSize);
    return buffer.data();
}

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

const EVP_MD* sha256Algorithm() {
    // Fetched once: an implicit fetch on every initialisation costs a provider lookup.
    static EVP_MD* algorithm = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return algorithm != nullptr ? algorithm : EVP_sha256();
}

bool cancelled(const CancellationFlag* cancel) { return cancel != nullptr && cancel->isCancelled(); }

} // namespace

bool matches(int fd, const FileSnapshot& snapshot) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
    const FileSnapshot now = FileSnapshot::fromStatus(status);
    return now.identity == snapshot.identity && now.size == snapshot.size &&
           now.modifiedSeconds == snapshot.modifiedSeconds && now.modifiedNanoseconds == snapshot.modifiedNanoseconds;
}

Result<std::string, Failure> sha256(const std::string& path, const FileSnapshot& expecting,
                                    std::optional<std::int64_t> limit, const CancellationFlag* cancel,
                                    const ReadHook& afterRead) {
    OpenFile file(path);
    if (!file.isOpen()) return Unexpected{Failure::unreadable(systemErrorText(file.error()))};
    if (!matches(file.fd(), expecting)) return Unexpected{Failure::changed()};
    if (!limit || *limit > static_cast<std::int64_t>(bufferSize))
        ::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);

    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), sha256Algorithm(), nullptr) != 1)
        return Unexpected{Failure::unreadable("The digest could not be started.")};

    unsigned char* buffer = threadBuffer(0);
    std::int64_t remaining = limit.value_or(std::numeric_limits<std::int64_t>::max());
    while (remaining > 0) {
        if (cancelled(cancel)) return Unexpected{Failure::cancelled()};
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(remaining, bufferSize));
        ssize_t got;
        do {
            got = ::read(file.fd(), buffer, wanted);
        } while (got < 0 && errno == EINTR);
        if (got < 0) return Unexpected{Failure::unreadable(systemErrorText(errno))};
        if (got == 0) break;
        EVP_DigestUpdate(context.get(), buffer, static_cast<std::size_t>(got));
        remaining -= got;
        if (afterRead) afterRead(path);
    }
    if (!matches(file.fd(), expecting)) return Unexpected{Failure::changed()};

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return hexadecimal(digest, length);
}

Result<bool, Failure> sameBytes(const std::string& pathA, const FileSnapshot& snapshotA, const std::string& pathB,
                                const FileSnapshot& snapshotB, const CancellationFlag* cancel,
                                const ReadHook& afterRead) {
    OpenFile a(pathA), b(pathB);
    if (!a.isOpen()) return Unexpected{Failure::unreadable(systemErrorText(a.error()))};
    if (!b.isOpen()) return Unexpected{Failure::unreadable(systemErrorText(b.error()))};
    if (!matches(a.fd(), snapshotA) || !matches(b.fd(), snapshotB)) return Unexpected{Failure::changed()};
    ::posix_fadvise(a.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    ::posix_fadvise(b.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);

    unsigned char* bufferA = threadBuffer(0);
    unsigned char* bufferB = threadBuffer(1);
    bool equal = true;
    while (true) {
        if (cancelled(cancel)) return Unexpected{Failure::cancelled()};
        const ssize_t filledA = a.fill(bufferA, bufferSize);
        if (filledA < 0) return Unexpected{Failure::unreadable(systemErrorText(errno))};
        const ssize_t filledB = b.fill(bufferB, bufferSize);
        if (filledB < 0) return Unexpected{Failure::unreadable(systemErrorText(errno))};
        if (afterRead) afterRead(pathA);
        if (filledA != filledB) {
            equal = false;
            break;
        }
        if (filledA == 0) break;
        if (std::memcmp(bufferA, bufferB, static_cast<std::size_t>(filledA)) != 0) {
            equal = false;
            break;
        }
    }
    // A file that changed while it was compared is neither equal nor different.
    if (!matches(a.fd(), snapshotA) || !matches(b.fd(), snapshotB)) return Unexpected{Failure::changed()};
    return equal;
}

} // namespace vp::ContentReader
