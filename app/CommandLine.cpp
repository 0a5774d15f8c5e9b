#include "CommandLine.h"

#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "engine/scan/FolderSource.h"
#include "model/PhotoCleanupHost.h"
#include "platform/image/Images.h"

#include <algorithm>
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

std::string words(LeftOut::Reason reason, std::size_t count) {
    using R = LeftOut::Reason;
    const bool one = count == 1;
    switch (reason) {
    case R::corrupt: return "damaged";
    case R::notDecodable: return "not decodable here";
    case R::tooLarge: return "too large";
    case R::unmeasured: return "not measurable";
    case R::unreadable: return "unreadable";
    case R::empty: return "empty";
    case R::symbolicLink: return one ? "link" : "links";
    case R::cloudPlaceholder: return "not downloaded";
    case R::changedDuringScan: return "changed while scanned";
    case R::hidden: return "hidden";
    case R::package: return one ? "package folder" : "package folders";
    case R::managedLibrary: return one ? "photo library" : "photo libraries";
    case R::unreadableFolder: return one ? "unreadable folder" : "unreadable folders";
    case R::trash: return one ? "Trash folder" : "Trash folders";
    case R::notScanned: return one ? "folder not scanned" : "folders not scanned";
    }
    return {};
}

namespace {

LeftOut::Reason reasonFor(SkipReason reason) {
    switch (reason) {
    case SkipReason::unsupportedFormat: return LeftOut::Reason::notDecodable;
    case SkipReason::unreadable: return LeftOut::Reason::unreadable;
    case SkipReason::corrupt: return LeftOut::Reason::corrupt;
    case SkipReason::cloudPlaceholder: return LeftOut::Reason::cloudPlaceholder;
    case SkipReason::empty: return LeftOut::Reason::empty;
    case SkipReason::symbolicLink: return LeftOut::Reason::symbolicLink;
    case SkipReason::changedDuringScan: return LeftOut::Reason::changedDuringScan;
    }
    return LeftOut::Reason::unreadable;
}

std::optional<LeftOut::Reason> reasonFor(ExcludedItem::Kind kind) {
    switch (kind) {
    case ExcludedItem::Kind::managedLibrary: return LeftOut::Reason::managedLibrary;
    case ExcludedItem::Kind::package: return LeftOut::Reason::package;
    case ExcludedItem::Kind::unreadableFolder: return LeftOut::Reason::unreadableFolder;
    case ExcludedItem::Kind::refusedRoot: return LeftOut::Reason::notScanned;
    case ExcludedItem::Kind::trash: return LeftOut::Reason::trash;
    case ExcludedItem::Kind::overlappingRoot: return std::nullopt; // its pictures are scanned under the other root
    }
    return std::nullopt;
}

} // namespace

std::vector<LeftOut> leftOut(const ScanResult& scan, const SimilarityIndex* measured) {
    std::vector<LeftOut> items;
    for (const auto& file : scan.skipped) items.push_back({file.path, reasonFor(file.reason), file.detail});
    for (const auto& item : scan.excluded)
        if (const auto reason = reasonFor(item.kind))
            items.push_back({item.path, *reason, item.detail.empty() ? std::nullopt : std::optional(item.detail)});
    for (const auto& path : scan.hidden) items.push_back({path, LeftOut::Reason::hidden, std::nullopt});
    if (measured != nullptr) {
        // The measuring refuses what has more pixels than are ever decoded; the header said so.
        std::map<std::string, const PhotoAsset*> byPath;
        for (const auto& picture : measured->pictures) byPath.emplace(picture.path, &picture);
        for (const auto& path : measured->unmeasured) {
            const auto found = byPath.find(path);
            const PhotoAsset* picture = found == byPath.end() ? nullptr : found->second;
            const std::int64_t width = picture ? picture->pixelWidth.value_or(0) : 0;
            const std::int64_t height = picture ? picture->pixelHeight.value_or(0) : 0;
            if (width > 0 && height > 0 && width > Images::maximumPixels / height)
                items.push_back({path, LeftOut::Reason::tooLarge,
                                 std::to_string(width) + " \u00d7 " + std::to_string(height) + " pixels"});
            else
                items.push_back({path, LeftOut::Reason::unmeasured, std::nullopt});
        }
    }
    std::stable_sort(items.begin(), items.end(), [](const LeftOut& a, const LeftOut& b) {
        if (a.reason != b.reason) return a.reason < b.reason;
        return a.path < b.path;
    });
    return items;
}

std::string leftOutSummary(const std::vector<LeftOut>& items, bool listed) {
    if (items.empty()) return {};
    std::vector<std::pair<LeftOut::Reason, std::size_t>> counts;
    for (const auto& item : items) {
        if (counts.empty() || counts.back().first != item.reason) counts.emplace_back(item.reason, 0);
        ++counts.back().second;
    }
    std::string line = "Left out: ";
    for (std::size_t i = 0; i < counts.size(); ++i) {
        if (i > 0) line += ", ";
        line += std::to_string(counts[i].second) + " " + words(counts[i].first, counts[i].second);
    }
    return line + (listed ? ":" : ". --skipped lists them.");
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

} // namespace vp::CommandLine
