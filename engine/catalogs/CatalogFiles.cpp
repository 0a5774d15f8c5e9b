#include "CatalogFiles.h"

#include "engine/common/Text.h"
#include "platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace vp::CatalogFiles {

std::string join(const std::string& first, const std::string& second) {
    if (!first.empty() && first.back() == '/') return first + second;
    return first + "/" + second;
}

std::optional<std::string> realPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
    return std::string(resolved);
}

std::string backupTimeText(Timestamp now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H%M%S", &local);
    return text;
}

namespace {
bool occupied(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}
} // namespace

std::string freeBackupPath(const std::string& folder, const std::string& stem, Timestamp now,
                           const std::string& extension) {
    const std::string base = join(folder, stem + " " + backupTimeText(now));
    std::string path = base + extension;
    for (int counter = 2; occupied(path); ++counter) path = base + " " + std::to_string(counter) + extension;
    return path;
}

std::vector<std::string> entriesWithExtension(const std::string& folder, const std::string& extension) {
    std::vector<std::pair<std::string, std::int64_t>> found;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || lowercased(pathExtension(name)) != extension) continue;
            const std::string path = join(folder, name);
            struct stat status {};
            // A missing date counts as the distant past.
            const std::int64_t changed =
                ::stat(path.c_str(), &status) == 0
                    ? static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec
                    : INT64_MIN;
            found.emplace_back(path, changed);
        }
        ::closedir(dir);
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    std::vector<std::string> paths;
    for (auto& [path, changed] : found) paths.push_back(std::move(path));
    return paths;
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {

bool namesProgram(const std::string& text, const std::vector<std::string>& lowerNames) {
    // Wine shows "C:\Program Files\Adobe\...\Lightroom.exe"; Linux paths use "/".
    const auto cut = text.find_last_of("/\\");
    const std::string last = lowercased(cut == std::string::npos ? text : text.substr(cut + 1));
    return std::find(lowerNames.begin(), lowerNames.end(), last) != lowerNames.end();
}

} // namespace

std::vector<std::string> runningProcesses(const std::vector<std::string>& programNames, const std::string& procFolder) {
    std::vector<std::string> lowerNames;
    for (const auto& name : programNames) lowerNames.push_back(lowercased(name));
    std::vector<std::string> processes;
    DIR* dir = ::opendir(procFolder.c_str());
    if (dir == nullptr) return processes;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
        const std::string process = procFolder + "/" + pid;
        bool running = false;
        std::string comm = readWhole(process + "/comm");
        if (!comm.empty() && comm.back() == '\n') comm.pop_back();
        if (namesProgram(comm, lowerNames)) running = true;
        char target[PATH_MAX];
        const ssize_t length = ::readlink((process + "/exe").c_str(), target, sizeof target);
        if (length > 0 && namesProgram(std::string(target, static_cast<std::size_t>(length)), lowerNames))
            running = true;
        // The command line's arguments, NUL-separated: Wine runs "wine C:\...\Lightroom.exe".
        for (const auto& argument : split(readWhole(process + "/cmdline"), '\0'))
            if (!argument.empty() && namesProgram(argument, lowerNames)) running = true;
        if (running) processes.push_back(process);
    }
    ::closedir(dir);
    return processes;
}

bool isProgramRunning(const std::vector<std::string>& programNames, const std::string& procFolder) {
    return !runningProcesses(programNames, procFolder).empty();
}

void saveRecord(const std::string& folder, const std::string& id, const Json& record) {
    // Sorted keys: a plain nlohmann::json keeps its objects in key order.
    const auto sorted = nlohmann::json::parse(record.dump());
    const std::string failure = AtomicFile::write(join(folder, id + ".json"), sorted.dump(2) + "\n");
    if (!failure.empty()) throw std::runtime_error(failure);
}

std::vector<std::string> recordTexts(const std::string& folder) {
    std::vector<std::string> texts;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (pathExtension(name) != "json") continue;
            const std::string path = join(folder, name);
            struct stat status {};
            // Only plain files: a FIFO named like a record would block the history forever.
            if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
            texts.push_back(readWhole(path));
        }
        ::closedir(dir);
    }
    return texts;
}

double referenceDateSeconds(Timestamp time) {
    constexpr std::int64_t unixSecondsAt2001 = 978307200;
    const auto micro = std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
    return static_cast<double>(micro) / 1e6 - static_cast<double>(unixSecondsAt2001);
}

std::string sqlReal(double value) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.precision(17);
    text << std::showpoint << value;
    return text.str();
}

std::string backupFolderBeside(const std::string& catalog) {
    const std::string folder = join(deletingLastPathComponent(catalog), std::string(backupFolderName));
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) throw std::runtime_error("could not create " + folder + ": " + error.message());
    return folder;
}

} // namespace vp::CatalogFiles
