#include "CommandLine.h"

#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "engine/scan/FolderSource.h"
#include "model/PhotoCleanupHost.h"
#include "platform/image/Images.h"

#include <algorithm>
#include <array>
#include <thread>
#include <pthread.h>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#ifndef VP_VERSION
#define VP_VERSION "0.0.0"
#endif

namespace vp::CommandLine {

std::optional<Option> option(const std::string& argument) {
    if (argument.size() < 2 || argument[0] != '-') return std::nullopt;
    const auto equals = argument.find('=');
    if (argument.starts_with("--") && equals != std::string::npos)
        return Option{argument.substr(0, equals), argument.substr(equals + 1)};
    return Option{argument, std::nullopt};
}

std::string asGiven(const std::string& argument) {
    return argument.empty() ? std::string("\"\" (an empty argument)") : displayable(argument);
}

std::string absolutePath(const std::string& path) {
    if (path.starts_with("/")) return PathRules::standardized(path);
    std::string folder;
    if (char* working = ::getcwd(nullptr, 0)) {
        folder = working;
        std::free(working);
    }
    return PathRules::standardized(folder + "/" + path);
}

std::optional<std::string> folderRefusal(const std::string& given, std::string& resolved) {
    if (given.empty()) return "Not a folder: " + asGiven(given);
    const std::string path = absolutePath(given);
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return "No such folder: " + asGiven(given);
        return "Cannot open " + asGiven(given) + ": " + std::strerror(errno);
    }
    if (!S_ISDIR(status.st_mode)) return "Not a folder: " + asGiven(given);
    const PreparedRoots prepared = FolderSource::prepare({path});
    if (prepared.roots.empty()) {
        const std::string why = prepared.refused.empty() ? std::string("It cannot be scanned.") : prepared.refused.front().detail;
        return "Cannot scan " + asGiven(given) + ": " + displayable(why);
    }
    resolved = prepared.roots.front();
    return std::nullopt;
}

std::string leftOutSummary(const std::vector<LeftOut>& items, bool listed) {
    if (items.empty()) return {};
    return "Left out: " + leftOutCounts(items) + (listed ? ":" : ". --skipped lists them.");
}

std::string leftOutLine(const LeftOut& item) {
    static const PhotoCleanupHost host;
    std::string line = words(item.reason, 1) + ": " + displayable(host.abbreviate(item.path));
    if (item.detail) line += " (" + displayable(*item.detail) + ")";
    return line;
}

void tellLeftOut(std::FILE* out, const std::vector<LeftOut>& items, bool list) {
    if (items.empty()) return;
    std::fprintf(out, "%s\n", leftOutSummary(items, list).c_str());
    if (list)
        for (const auto& item : items) std::fprintf(out, "  %s\n", leftOutLine(item).c_str());
}

Json header(std::string_view command) {
    Json json = Json::object();
    json["tool"] = "velmo-pristel";
    json["version"] = std::string(version());
    json["schemaVersion"] = schemaVersion;
    json["command"] = std::string(command);
    return json;
}

std::string localTimestamp(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (localtime_r(&time, &parts) == nullptr) return {};
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &parts);
    std::string result(text, length);
    // ISO 8601's extended form writes the offset with a colon: +0200 becomes +02:00.
    if (result.size() >= 5) result.insert(result.size() - 2, ":");
    return result;
}

std::string localTimestamp(Timestamp time) {
    return localTimestamp(static_cast<std::int64_t>(std::chrono::floor<std::chrono::seconds>(time).time_since_epoch().count()));
}

Json withLocalDates(Json json) {
    static constexpr std::array<std::string_view, 4> dateKeys{"created", "started", "finished", "at"};
    if (json.is_array()) {
        for (auto& element : json) element = withLocalDates(std::move(element));
    } else if (json.is_object()) {
        for (auto& [key, value] : json.items()) {
            const bool isDate = std::find(dateKeys.begin(), dateKeys.end(), key) != dateKeys.end();
            if (const auto time = isDate && value.is_string() ? parseIso8601(value.get<std::string>()) : std::nullopt)
                value = localTimestamp(*time);
            else
                value = withLocalDates(std::move(value));
        }
    }
    return json;
}

std::string localDateTime(std::int64_t seconds) {
    std::string text = localTimestamp(seconds).substr(0, 19);
    if (text.size() == 19) text[10] = ' ';
    return text;
}

std::string wallClockTimestamp(Timestamp time) {
    const std::time_t seconds = static_cast<std::time_t>(std::chrono::floor<std::chrono::seconds>(time).time_since_epoch().count());
    std::tm parts{};
    if (gmtime_r(&seconds, &parts) == nullptr) return {};
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts));
}

std::string jsonText(const Json& json) { return json.dump(-1, ' ', true); }

std::string pictures(std::size_t count) { return std::to_string(count) + (count == 1 ? " picture" : " pictures"); }

std::string groups(std::size_t count) { return std::to_string(count) + (count == 1 ? " group" : " groups"); }

std::string bytesText(std::int64_t bytes) {
    const char* units[] = {"bytes", "KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1000 && unit < 4) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    if (unit == 0 && bytes == 1) return "1 byte";
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

std::string_view version() { return VP_VERSION; }

void takeTerminationSignals(std::function<void(int signal)> handle) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, handle = std::move(handle)] {
        while (true) {
            int received = 0;
            if (sigwait(&signals, &received) == 0) handle(received);
        }
    }).detach();
}

} // namespace vp::CommandLine
