#include "Settings.h"

#include "engine/common/Text.h"
#include "platform/AtomicFile.h"
#include "platform/RegularFile.h"
#include "platform/SystemError.h"

#include <chrono>
#include <cstdio>
#include <limits>

namespace vp {

namespace {

/// Larger than any settings file this version writes, by far.
constexpr std::int64_t maximumFileSize = 16 << 20;

// A whole number that fits a signed 64-bit integer: a float or a larger unsigned number would
// not convert to one.
bool isSignedInteger(const Json& value) {
    return value.is_number_integer() &&
           (!value.is_number_unsigned() ||
            value.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
}

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
        if (values.contains(key) && !isSignedInteger(values[key])) return false;
    return true;
}

std::string keptAside(const std::string& path) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch()).count();
    const std::string aside = path + ".damaged-" + std::to_string(seconds);
    return std::rename(path.c_str(), aside.c_str()) == 0 ? aside : path;
}

} // namespace

Settings::Parsed Settings::parse(std::string_view text) {
    Json values = Json::parse(text, nullptr, false);
    if (values.is_discarded() || !values.is_object() || !hasExpectedShape(values))
        return {Json::object(), "The settings file could not be read"};
    if (values.value(versionKey, std::int64_t{1}) > formatVersion)
        return {Json::object(), "The settings were saved by a newer version of Velmo Pristel"};
    return {std::move(values), std::nullopt};
}

Settings::Settings(std::string path) : m_path(std::move(path)) {
    const RegularFileRead read = readRegularFile(m_path, maximumFileSize);
    if (read.status == RegularFileRead::Status::missing) return; // no settings yet
    if (!read.ok()) {
        // The file may hold protected folders this run cannot see: it is neither moved nor
        // replaced, and what is changed now lasts until the end of the run.
        m_saves = false;
        m_problem = "The settings file " + lastPathComponent(m_path) + " could not be read (" + read.why() +
                    "), so the defaults are used in this run, without the folders you protect. The file is left "
                    "as it is and nothing is saved over it.";
        return;
    }
    Parsed parsed = parse(read.content);
    if (!parsed.problem) {
        m_values = std::move(parsed.values);
        return;
    }
    const std::string aside = keptAside(m_path);
    if (aside == m_path) m_saves = false; // never written over while it could not be kept aside
    m_problem = *parsed.problem + ", so the defaults are used. The old file is kept as " + lastPathComponent(aside) + ".";
}

Settings Settings::fromText(std::string_view text) {
    Settings settings;
    Parsed parsed = parse(text);
    settings.m_values = std::move(parsed.values);
    settings.m_problem = std::move(parsed.problem);
    return settings;
}

// The readers answer "none" for a value of another type: the file's shape is checked when it
// is read, but only for the keys this version knows.
std::vector<std::string> Settings::strings(const std::string& key) const {
    if (!m_values.contains(key) || !m_values[key].is_array()) return {};
    std::vector<std::string> list;
    for (const auto& item : m_values[key])
        if (item.is_string()) list.push_back(item.get<std::string>());
    return list;
}

std::optional<std::string> Settings::string(const std::string& key) const {
    if (!m_values.contains(key) || !m_values[key].is_string()) return std::nullopt;
    return m_values[key].get<std::string>();
}

std::optional<std::int64_t> Settings::integer(const std::string& key) const {
    if (!m_values.contains(key) || !isSignedInteger(m_values[key])) return std::nullopt;
    return m_values[key].get<std::int64_t>();
}

void Settings::set(const std::string& key, Json value) {
    m_values[key] = std::move(value);
    m_values[versionKey] = formatVersion;
}

std::optional<std::string> Settings::save() const {
    if (!m_saves || m_path.empty()) return std::nullopt; // the reason was told when the file was read
    const std::string failure = AtomicFile::write(m_path, m_values.dump(2) + "\n");
    if (failure.empty()) return std::nullopt;
    return failure;
}

} // namespace vp
