// The person's settings, one JSON file under the "photoCleanup." keys. A file that cannot be
// used (damaged, of another shape, or written by a newer version) is kept aside untouched, the
// defaults are used, and the reason is told once.
#pragma once

#include "engine/common/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vp {

class Settings {
public:
    /// The shape of the file this version writes; a file with a higher number is left alone.
    static constexpr std::int64_t formatVersion = 1;
    static constexpr const char* versionKey = "photoCleanup.settingsVersion";

    /// Reads the file at `path` when there is one.
    explicit Settings(std::string path);

    /// Why the stored settings were not used; absent when they were, or when there were none.
    const std::optional<std::string>& problem() const { return m_problem; }

    std::vector<std::string> strings(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<std::int64_t> integer(const std::string& key) const;

    void set(const std::string& key, Json value);
    /// Writes the file atomically; the system's words when that failed.
    std::optional<std::string> save() const;

private:
    std::string m_path;
    Json m_values = Json::object();
    std::optional<std::string> m_problem;
};

} // namespace vp
