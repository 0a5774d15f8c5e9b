#include "Settings.h"

#include "engine/common/Text.h"
#include "platform/AtomicFile.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace vp {

namespace {

// Keys this version reads, with the JSON type each must have.
bool hasExpectedShape(const Json& values) {
    static const std::vector<std::string> lists{"photoCleanup.sources", "photoCleanup.protected",
                                                "photoCleanup.priorities", "photoCleanup.lightroomFolders",
                                                "photoCleanup.captureOneFolders"};
    static const std::vector<std::string> texts{"photoCleanup.scope", "photoCleanup.preset",
                                                "photoCleanup.lightroomCatalog", "photoCleanup.captureOneCatalog"};
    static const std::vector<std::string> numbers{"photoCleanup.prioritiesRevision", "photoCleanup.downloadLimit",
                                                  Settings::versionKey};
    for (const auto& key : lists) {
        if (!values.contains(key)) continue;
        if (!values[key].is_array()) return false;
        for (const auto& item : values[key])
            if (!item.is_string()) return false;
    }
    for (const auto& key : texts)
        if (values.contains(key) && !values[key].is_string()) return false;
    for (const auto& key : numbers)
        if (values.contains(key) && !values[key].is_number_integer()) return false;
    return true;
}

std::string keptAside(const std::string& path) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch()).count();
    const std::string aside = path + ".damaged-" + std::to_string(seconds);
    return std::rename(path.c_str(), aside.c_str()) == 0 ? aside : path;
}

} // namespace

Settings::Settings(std::string path) : m_path(std::move(path)) {
    std::ifstream file(m_path);
    if (!file) return; // no settings yet
    std::stringstream text;
    text << file.rdbuf();
    file.close();
    Json values = Json::parse(text.str(), nullptr, false);
    std::string reason;
    if (values.is_discarded() || !values.is_object() || !hasExpectedShape(values))
        reason = "The settings file could not be read";
    else if (values.value(versionKey, std::int64_t{1}) > formatVersion)
        reason = "The settings were saved by a newer version of Velmo Pristel";
    if (reason.empty()) {
        m_values = std::move(values);
        return;
    }
    const std::string aside = keptAside(m_path);
    m_problem = reason + ", so the defaults are used. The old file is kept as " + lastPathComponent(aside) + ".";
}

std::vector<std::string> Settings::strings(const std::string& key) const {
    if (!m_values.contains(key)) return {};
    return m_values[key].get<std::vector<std::string>>();
}

std::optional<std::string> Settings::string(const std::string& key) const {
    if (!m_values.contains(key)) return std::nullopt;
    return m_values[key].get<std::string>();
}

std::optional<std::int64_t> Settings::integer(const std::string& key) const {
    if (!m_values.contains(key)) return std::nullopt;
    return m_values[key].get<std::int64_t>();
}

void Settings::set(const std::string& key, Json value) {
    m_values[key] = std::move(value);
    m_values[versionKey] = formatVersion;
}

std::optional<std::string> Settings::save() const {
    const std::string failure = AtomicFile::write(m_path, m_values.dump(2) + "\n");
    if (failure.empty()) return std::nullopt;
    return failure;
}

} // namespace vp
