#include "Images.h"

#include "Decoders.h"

#include "engine/common/Text.h"
#include "platform/TypeIdentifiers.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vp::Images {

namespace {

using ImageDecoders::RawDecoding;

// The extension only chooses which decoder tries first. The content decides in the end: a
// JPEG named .nef is read by libvips and reported as the JPEG it is.
bool hasRawExtension(const std::string& path) {
    const auto identifier = TypeIdentifiers::forExtension(pathExtension(lastPathComponent(path)));
    return identifier && TypeIdentifiers::conformsToRawImage(*identifier);
}

bool notRaw(const ImageFailure& failure) { return failure.kind == ImageFailure::Kind::notDecodable; }

bool canReopenDescriptors() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

// The picture held open from the moment it is known to be a plain file until the decoders are
// done with it. It is opened without following a final link and without blocking, so a FIFO
// put in its place (which would block an ordinary open for good) or a device is only seen,
// never waited on. The decoders open it again by descriptor (/proc/self/fd/N), which reaches
// this very file whatever has been put at its path since. The name is reused by the next
// picture that gets the same descriptor number, which is safe because libvips keeps no cache
// of opened files here (see startVips).
class PinnedPicture {
public:
    explicit PinnedPicture(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {
        if (m_fd < 0) {
            // O_NOFOLLOW answers ELOOP when a link stands there now.
            m_failure = errno == ELOOP ? notAFile() : ImageFailure{ImageFailure::Kind::cannotOpen, "The file cannot be read."};
            return;
        }
        struct stat status {};
        if (::fstat(m_fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            m_failure = notAFile();
            return;
        }
        // Without /proc the path is handed over after the check; the window is that short.
        m_readPath = canReopenDescriptors() ? "/proc/self/fd/" + std::to_string(m_fd) : path;
    }
    ~PinnedPicture() {
        if (m_fd >= 0) ::close(m_fd);
    }
    PinnedPicture(const PinnedPicture&) = delete;
    PinnedPicture& operator=(const PinnedPicture&) = delete;

    const std::optional<ImageFailure>& failure() const { return m_failure; }
    /// The path the decoders open.
    const std::string& readPath() const { return m_readPath; }

private:
    static ImageFailure notAFile() {
        return {ImageFailure::Kind::notAFile, "It is no longer a plain file (a link, a pipe or a device is there now)."};
    }

    int m_fd = -1;
    std::string m_readPath;
    std::optional<ImageFailure> m_failure;
};

} // namespace

const std::set<std::string>& decodableTypes() {
    static const std::set<std::string> types = [] {
        auto all = ImageDecoders::vipsDecodableTypes();
        all.merge(ImageDecoders::rawDecodableTypes());
        return all;
    }();
    return types;
}

const std::vector<std::string>& supportedCameras() {
    static const std::vector<std::string> cameras = ImageDecoders::rawCameraList();
    return cameras;
}

Result<ImageProperties, ImageFailure> properties(const std::string& path) {
    const PinnedPicture picture(path);
    if (picture.failure()) return Unexpected{*picture.failure()};
    const std::string& readPath = picture.readPath();
    if (hasRawExtension(path)) {
        auto raw = ImageDecoders::rawProperties(readPath, path);
        if (raw || !notRaw(raw.error())) return raw;
        if (auto other = ImageDecoders::vipsProperties(readPath)) return other;
        return raw;
    }
    return ImageDecoders::vipsProperties(readPath);
}

Result<Bitmap, ImageFailure> thumbnail(const std::string& path, int longestSide) {
    longestSide = std::max(longestSide, 1);
    const PinnedPicture picture(path);
    if (picture.failure()) return Unexpected{*picture.failure()};
    const std::string& readPath = picture.readPath();
    if (hasRawExtension(path)) {
        auto raw = ImageDecoders::rawThumbnail(readPath, longestSide);
        if (raw || !notRaw(raw.error())) return raw;
        if (auto other = ImageDecoders::vipsThumbnail(readPath, longestSide, ImageDecoders::Strictness::tolerant))
            return other;
        return raw;
    }
    return ImageDecoders::vipsThumbnail(readPath, longestSide, ImageDecoders::Strictness::tolerant);
}

namespace {

enum class Check { fast, throughVips };

bool decodes(const std::string& path, Check check) {
    const PinnedPicture picture(path);
    if (picture.failure()) return false;
    const std::string& readPath = picture.readPath();
    if (hasRawExtension(path)) {
        switch (ImageDecoders::rawDecodeFully(readPath)) {
        case RawDecoding::complete: return true;
        case RawDecoding::damaged: return false;
        case RawDecoding::notRaw: break;
        }
    }
    // A HEIC decodes through FFmpeg without its colour conversion and in-loop filters; anything
    // that check is unsure of is judged by libvips, as before.
    if (check == Check::fast && ImageDecoders::isHeif(readPath) &&
        ImageDecoders::heifDecodesFully(readPath) == ImageDecoders::HeifCheck::complete)
        return true;
    // 64 pixels is enough: reaching any size means every row of the source was decoded, and
    // shrink-on-load still runs the whole entropy-coded stream of a JPEG.
    return ImageDecoders::vipsThumbnail(readPath, 64, ImageDecoders::Strictness::failOnTruncation).hasValue();
}

} // namespace

bool decodesFully(const std::string& path) { return decodes(path, Check::fast); }

bool decodesFullyThroughVips(const std::string& path) { return decodes(path, Check::throughVips); }

std::string decoderRevision() {
    // The number after "check" changes whenever a verdict of this file's checks would.
    return "check 2; " + ImageDecoders::vipsRevision() + "; " + ImageDecoders::heifCheckRevision() + "; " +
           ImageDecoders::rawRevision();
}

Result<Bitmap, ImageFailure> greySquare(const Bitmap& image, int side) {
    return ImageDecoders::vipsGreySquare(image, side);
}

} // namespace vp::Images
