#include "AppFolders.h"

#include "engine/common/Text.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vp {

namespace {

std::string fromEnvironment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    // Relative values are invalid by the base-directory rules and are ignored.
    return value != nullptr && value[0] == '/' ? std::string(value) : fallback;
}

} // namespace

std::string downloadFolderIn(const std::string& userDirs, const std::string& home) {
    for (const auto& rawLine : split(userDirs, '\n')) {
        const std::string line = trimmed(rawLine);
        if (!line.starts_with("XDG_DOWNLOAD_DIR=")) continue;
        std::string value = line.substr(std::string("XDG_DOWNLOAD_DIR=").size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (value.starts_with("$HOME")) value = home + value.substr(5);
        if (!value.starts_with("/")) return {};
        while (value.size() > 1 && value.back() == '/') value.pop_back();
        return value == home ? std::string() : value; // a Downloads folder that is the home itself means none
    }
    return {};
}

AppFolders AppFolders::standard(const std::string& home) {
    const std::string configHome = fromEnvironment("XDG_CONFIG_HOME", home + "/.config");
    const std::string dataHome = fromEnvironment("XDG_DATA_HOME", home + "/.local/share");
    const std::string cacheHome = fromEnvironment("XDG_CACHE_HOME", home + "/.cache");
    AppFolders folders;
    folders.config = configHome + "/velmo-pristel";
    folders.data = dataHome + "/velmo-pristel/PhotoCleanup";
    folders.cache = cacheHome + "/velmo-pristel";
    std::ifstream file(configHome + "/user-dirs.dirs");
    std::stringstream text;
    text << file.rdbuf();
    folders.downloads = downloadFolderIn(text.str(), home);
    if (folders.downloads.empty()) folders.downloads = home + "/Downloads";
    return folders;
}

} // namespace vp
