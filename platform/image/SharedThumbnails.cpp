#include "SharedThumbnails.h"

#include "Decoders.h"

#include "engine/common/Text.h"
#include "platform/Home.h"
#include "platform/RegularFile.h"
#include "platform/SystemError.h"
#include "platform/WriteAll.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vp {

namespace {

constexpr ThumbnailSize allSizes[] = {ThumbnailSize::normal, ThumbnailSize::large, ThumbnailSize::xLarge,
                                      ThumbnailSize::xxLarge};
// Fail entries are per program and version: another program may read what we cannot, and a
// later version of this one may have learnt to.
constexpr const char* failFolderName = "fail/velmo-pristel-" VP_VERSION;
constexpr const char* softwareName = "Velmo Pristel " VP_VERSION;

// Bytes a thumbnail of `side` pixels may take: its raw RGBA pixels (what an uncompressed PNG
// needs) and room for text chunks. Anything larger is not a thumbnail of that size.
std::int64_t byteBound(int side) { return static_cast<std::int64_t>(side) * side * 4 + (1 << 20); }

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string workingFolder() {
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return "/";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// Absolute, without empty, "." and ".." components, as GIO makes a path before its URI: the file
// manager names a thumbnail after this spelling, so ours must be the same.
std::string normalisedAbsolute(const std::string& path) {
    const std::string absolute = path.starts_with('/') ? path : workingFolder() + "/" + path;
    std::vector<std::string_view> kept;
    std::string_view rest(absolute);
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!kept.empty()) kept.pop_back();
            continue;
        }
        kept.push_back(part);
    }
    std::string normalised;
    for (const auto part : kept) {
        normalised += '/';
        normalised += part;
    }
    return normalised.empty() ? "/" : normalised;
}

bool keptInUri(unsigned char byte) {
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')) return true;
    return std::string_view("-._~!$&'()*+,=:@/").find(static_cast<char>(byte)) != std::string_view::npos;
}

std::optional<std::int64_t> decimal(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

const std::string* textNamed(const std::vector<ImageDecoders::PngText>& texts, std::string_view keyword) {
    const auto found =
        std::find_if(texts.begin(), texts.end(), [&](const auto& text) { return text.keyword == keyword; });
    return found == texts.end() ? nullptr : &found->text;
}

// The standard's validity test: the same URI and modification second; the byte size too when
// the writer recorded it, which catches a picture rewritten within one second.
bool madeFor(const std::vector<ImageDecoders::PngText>& texts, const std::string& uri, const PictureStamp& stamp) {
    const auto* writtenUri = textNamed(texts, "Thumb::URI");
    const auto* writtenTime = textNamed(texts, "Thumb::MTime");
    if (writtenUri == nullptr || *writtenUri != uri || writtenTime == nullptr) return false;
    if (decimal(*writtenTime) != stamp.modificationSeconds) return false;
    const auto* writtenSize = textNamed(texts, "Thumb::Size");
    return writtenSize == nullptr || decimal(*writtenSize) == stamp.byteSize;
}

enum class Pixels { check, skip };

CachedThumbnail readEntry(const std::string& file, const std::string& uri, const PictureStamp& stamp, int maxSide,
                          Pixels pixels) {
    using Status = CachedThumbnail::Status;
    const auto read = readRegularFile(file, byteBound(maxSide));
    if (read.status == RegularFileRead::Status::missing) return {Status::missing, {}};
    if (!read.ok()) return {Status::damaged, {}};
    const auto header = ImageDecoders::readPngHeader(read.content);
    // Checked before any pixel is decoded: a few bytes of PNG can claim a huge picture.
    if (!header || header->width > maxSide || header->height > maxSide) return {Status::damaged, {}};
    if (!madeFor(header->texts, uri, stamp)) return {Status::stale, {}};
    if (pixels == Pixels::skip) return {Status::found, {}};
    auto bitmap = ImageDecoders::decodePng(read.content);
    if (!bitmap) return {Status::damaged, {}};
    return {Status::found, std::move(bitmap).value()};
}

// Each missing folder on the way is made private, as the standard asks of the cache's folders
// (and the base directory rules of $XDG_CACHE_HOME); existing ones are left as they are.
void createFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        ::mkdir(folder.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos) return;
    }
}

// Written beside its place under a hidden temporary name and renamed over it, so a reader in
// this or another program sees the old thumbnail or the new one, never half of one. There is no
// fsync: a thumbnail torn by a crash fails its checks and is made again.
std::string writeAtomically(const std::string& folder, const std::string& name, std::string_view bytes) {
    std::string temporary = folder + "/." + name + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        createFolders(folder);
        temporary = folder + "/." + name + ".XXXXXX";
        fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    }
    if (fd < 0) return "Creating the temporary file: " + systemErrorText(errno);
    // mkostemp already makes the file 0600, the mode the standard asks for; said here in case
    // that ever changes.
    ::fchmod(fd, 0600);
    std::string problem;
    if (!writeAll(fd, bytes)) problem = "Writing: " + systemErrorText(errno);
    if (::close(fd) != 0 && problem.empty()) problem = "Closing: " + systemErrorText(errno);
    if (problem.empty() && ::rename(temporary.c_str(), (folder + "/" + name).c_str()) != 0)
        problem = "Renaming: " + systemErrorText(errno);
    if (!problem.empty()) ::unlink(temporary.c_str());
    return problem;
}

std::string resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

bool isWithin(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.empty()) return false;
    if (folder == "/") return true;
    return path == folder || path.starts_with(folder + "/");
}

// Decoding failures that come from the picture itself; an unreadable or vanished file may be
// fine next time and gets no fail entry.
bool isLastingFailure(const ImageFailure& failure) {
    switch (failure.kind) {
    case ImageFailure::Kind::notDecodable:
    case ImageFailure::Kind::damaged:
    case ImageFailure::Kind::tooLarge: return true;
    case ImageFailure::Kind::cannotOpen:
    case ImageFailure::Kind::notAFile: return false;
    }
    return false;
}

// Width and height as the picture is seen, orientation applied, like the thumbnail itself.
std::optional<std::pair<std::int64_t, std::int64_t>> originalSize(const std::string& path) {
    const auto properties = Images::properties(path);
    if (!properties || !properties->pixelWidth || !properties->pixelHeight) return std::nullopt;
    const bool turned = properties->orientation.value_or(1) >= 5;
    if (turned) return std::pair{*properties->pixelHeight, *properties->pixelWidth};
    return std::pair{*properties->pixelWidth, *properties->pixelHeight};
}

} // namespace

int pixels(ThumbnailSize size) {
    switch (size) {
    case ThumbnailSize::normal: return 128;
    case ThumbnailSize::large: return 256;
    case ThumbnailSize::xLarge: return 512;
    case ThumbnailSize::xxLarge: return 1024;
    }
    return 1024;
}

const char* folderName(ThumbnailSize size) {
    switch (size) {
    case ThumbnailSize::normal: return "normal";
    case ThumbnailSize::large: return "large";
    case ThumbnailSize::xLarge: return "x-large";
    case ThumbnailSize::xxLarge: return "xx-large";
    }
    return "xx-large";
}

ThumbnailSize thumbnailSizeFor(int longestSide) {
    for (const auto size : allSizes)
        if (pixels(size) >= longestSide) return size;
    return ThumbnailSize::xxLarge;
}

std::string SharedThumbnails::defaultFolder() {
    // An XDG variable that is not an absolute path is to be ignored.
    std::string cacheHome = environment("XDG_CACHE_HOME");
    if (!cacheHome.starts_with('/')) {
        std::string home = environment("HOME");
        if (!home.starts_with('/')) home = realHomeFolder();
        cacheHome = home + "/.cache";
    }
    return cacheHome + "/thumbnails";
}

SharedThumbnails::SharedThumbnails(std::string folder) : m_folder(std::move(folder)) {}

std::string SharedThumbnails::fileUri(const std::string& path) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char c : normalisedAbsolute(path)) {
        const auto byte = static_cast<unsigned char>(c);
        if (keptInUri(byte)) {
            uri += c;
        } else {
            uri += '%';
            uri += digits[byte >> 4];
            uri += digits[byte & 0x0F];
        }
    }
    return uri;
}

std::string SharedThumbnails::thumbnailFileName(const std::string& uri) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(uri.data(), uri.size(), digest, &length, EVP_md5(), nullptr);
    return hexadecimal(digest, length) + ".png";
}

std::string SharedThumbnails::thumbnailPath(const std::string& path, ThumbnailSize size) const {
    return m_folder + "/" + folderName(size) + "/" + thumbnailFileName(fileUri(path));
}

std::string SharedThumbnails::failurePath(const std::string& path) const {
    return m_folder + "/" + failFolderName + "/" + thumbnailFileName(fileUri(path));
}

std::optional<PictureStamp> SharedThumbnails::stampOf(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return PictureStamp{static_cast<std::int64_t>(status.st_mtim.tv_sec), static_cast<std::int64_t>(status.st_size)};
}

CachedThumbnail SharedThumbnails::lookup(const std::string& path, ThumbnailSize size, const PictureStamp& stamp) const {
    return readEntry(thumbnailPath(path, size), fileUri(path), stamp, pixels(size), Pixels::check);
}

std::string SharedThumbnails::store(const std::string& path, ThumbnailSize size, const Bitmap& thumbnail,
                                    const PictureStamp& stamp,
                                    std::optional<std::pair<std::int64_t, std::int64_t>> original) const {
    if (thumbnail.width > pixels(size) || thumbnail.height > pixels(size))
        return "The thumbnail is larger than its size allows.";
    const std::string uri = fileUri(path);
    std::vector<ImageDecoders::PngText> texts = {
        {"Thumb::URI", uri},
        {"Thumb::MTime", std::to_string(stamp.modificationSeconds)},
        {"Thumb::Size", std::to_string(stamp.byteSize)},
    };
    if (original) {
        texts.push_back({"Thumb::Image::Width", std::to_string(original->first)});
        texts.push_back({"Thumb::Image::Height", std::to_string(original->second)});
    }
    texts.push_back({"Software", softwareName});
    const auto png = ImageDecoders::encodePng(thumbnail, texts);
    if (!png) return png.error().detail;
    return writeAtomically(m_folder + "/" + folderName(size), thumbnailFileName(uri), *png);
}

bool SharedThumbnails::failedBefore(const std::string& path, const PictureStamp& stamp) const {
    return readEntry(failurePath(path), fileUri(path), stamp, pixels(ThumbnailSize::normal), Pixels::skip).status ==
           CachedThumbnail::Status::found;
}

std::string SharedThumbnails::storeFailure(const std::string& path, const PictureStamp& stamp) const {
    const std::string uri = fileUri(path);
    const std::vector<ImageDecoders::PngText> texts = {
        {"Thumb::URI", uri},
        {"Thumb::MTime", std::to_string(stamp.modificationSeconds)},
        {"Thumb::Size", std::to_string(stamp.byteSize)},
        {"Software", softwareName},
    };
    const auto png = ImageDecoders::encodePng(Bitmap{1, 1, 3, {255, 255, 255}}, texts);
    if (!png) return png.error().detail;
    return writeAtomically(m_folder + "/" + failFolderName, thumbnailFileName(uri), *png);
}

bool SharedThumbnails::isInsideCache(const std::string& path) const {
    const std::string absolute = normalisedAbsolute(path);
    if (isWithin(absolute, normalisedAbsolute(m_folder))) return true;
    // The picture's folder resolved, not the picture: a link to a picture elsewhere is not a
    // thumbnail, and the picture itself is never followed.
    return isWithin(resolved(deletingLastPathComponent(absolute)), resolved(m_folder));
}

Result<Bitmap, ImageFailure> SharedThumbnails::get(const std::string& path, int longestSide) const {
    const ThumbnailSize size = thumbnailSizeFor(longestSide);
    const auto stamp = stampOf(path);
    // No plain file there: the picture service says why, in its usual words.
    if (!stamp) return Images::thumbnail(path, pixels(size));

    for (auto larger = static_cast<int>(size); larger <= static_cast<int>(ThumbnailSize::xxLarge); ++larger) {
        auto cached = lookup(path, static_cast<ThumbnailSize>(larger), *stamp);
        if (cached.status != CachedThumbnail::Status::found) continue;
        if (larger == static_cast<int>(size)) return std::move(cached.bitmap);
        // The file manager's larger thumbnail serves as well, shrunk: no picture is decoded.
        const Bitmap& bitmap = cached.bitmap;
        if (std::max(bitmap.width, bitmap.height) <= pixels(size)) return std::move(cached.bitmap);
        return ImageDecoders::shrinkPixels(bitmap.pixels.data(), bitmap.width, bitmap.height, bitmap.channels,
                                           pixels(size));
    }

    if (isInsideCache(path)) return Images::thumbnail(path, pixels(size));
    if (failedBefore(path, *stamp))
        return Unexpected{ImageFailure{ImageFailure::Kind::damaged,
                                       "The picture could not be read before and has not changed since."}};
    auto made = Images::thumbnail(path, pixels(size));
    if (!made) {
        if (isLastingFailure(made.error())) (void)storeFailure(path, *stamp);
        return made;
    }
    // A cache that cannot be written (read-only, full) only costs the next decode.
    (void)store(path, size, *made, *stamp, originalSize(path));
    return made;
}

} // namespace vp
