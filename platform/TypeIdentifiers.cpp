#include "TypeIdentifiers.h"

#include "engine/common/Text.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <unordered_map>

namespace vp::TypeIdentifiers {

namespace {

const std::map<std::string, std::string, std::less<>>& identifiersByExtension() {
    static const std::map<std::string, std::string, std::less<>> table{
        {"jpg", "public.jpeg"},
        {"jpeg", "public.jpeg"},
        {"jpe", "public.jpeg"},
        {"png", "public.png"},
        {"heic", "public.heic"},
        {"heif", "public.heif"},
        {"tif", "public.tiff"},
        {"tiff", "public.tiff"},
        {"dng", "com.adobe.raw-image"},
        {"cr2", "com.canon.cr2-raw-image"},
        {"cr3", "com.canon.cr3-raw-image"},
        {"crw", "com.canon.crw-raw-image"},
        {"nef", "com.nikon.raw-image"},
        {"nrw", "com.nikon.nrw-raw-image"},
        {"arw", "com.sony.arw-raw-image"},
        {"srf", "com.sony.raw-image"},
        {"sr2", "com.sony.sr2-raw-image"},
        {"raf", "com.fuji.raw-image"},
        {"orf", "com.olympus.raw-image"},
        {"rw2", "com.panasonic.rw2-raw-image"},
        {"raw", "com.panasonic.raw-image"},
        {"rwl", "com.leica.rwl-raw-image"},
        {"pef", "com.pentax.raw-image"},
        {"srw", "com.samsung.raw-image"},
        {"3fr", "com.hasselblad.3fr-raw-image"},
        {"fff", "com.hasselblad.fff-raw-image"},
        {"iiq", "com.phaseone.raw-image"},
        {"mos", "com.leafamerica.raw-image"},
        {"mrw", "com.konicaminolta.raw-image"},
        {"x3f", "com.sigma.raw-image"},
        {"erf", "com.epson.raw-image"},
        {"kdc", "com.kodak.raw-image"},
        {"dcr", "com.kodak.raw-image"},
    };
    return table;
}

// Used only when the shared MIME database is not installed.
constexpr std::string_view fallbackImageExtensions[] = {
    "gif", "webp", "bmp", "psd", "svg", "svgz", "ico", "icns", "jxl", "avif", "jp2", "j2k", "jpx", "exr", "hdr",
    "tga", "pcx", "xcf", "ppm", "pgm", "pbm", "pnm", "xpm", "xbm", "dds", "wbmp", "jxr", "wdp", "heics", "avifs",
};

std::unordered_map<std::string, std::string> loadImageGlobs() {
    std::unordered_map<std::string, std::string> types;
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    const std::string searchPath = (dirs != nullptr && *dirs != '\0') ? dirs : "/usr/local/share:/usr/share";
    for (const auto& dir : split(searchPath, ':')) {
        if (dir.empty()) continue;
        std::ifstream file(dir + "/mime/globs2");
        if (!file) continue;
        std::stringstream text;
        text << file.rdbuf();
        types.merge(parseGlobs2(text.str()));
    }
    return types;
}

} // namespace

std::optional<std::string> forExtension(std::string_view extension) {
    const auto& table = identifiersByExtension();
    const auto found = table.find(lowercased(extension));
    if (found == table.end()) return std::nullopt;
    return found->second;
}

bool conformsToRawImage(std::string_view identifier) {
    if (identifier == rawImage) return true;
    for (const auto& [extension, known] : identifiersByExtension())
        if (known == identifier) return known.find("raw-image") != std::string::npos;
    return false;
}

std::unordered_map<std::string, std::string> parseGlobs2(std::string_view globs2) {
    std::unordered_map<std::string, std::string> types;
    for (const auto& line : split(globs2, '\n')) {
        if (line.starts_with("#")) continue;
        const auto fields = split(line, ':');
        if (fields.size() < 3) continue;
        const std::string& glob = fields[2];
        if (!glob.starts_with("*.") || glob.find_first_of("*?[", 2) != std::string::npos) continue;
        types.try_emplace(lowercased(glob.substr(2)), fields[1]);
    }
    return types;
}

bool isImageExtension(std::string_view extension) {
    if (extension.empty()) return false;
    static const auto globs = loadImageGlobs();
    const std::string lower = lowercased(extension);
    if (globs.empty()) {
        for (const auto known : fallbackImageExtensions)
            if (known == lower) return true;
        return false;
    }
    const auto found = globs.find(lower);
    return found != globs.end() && found->second.starts_with("image/");
}

} // namespace vp::TypeIdentifiers
