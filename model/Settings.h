// The person's settings, one JSON file under the "photoCleanup." keys. A file that cannot be
// used (damaged, of another shape, or written by a newer version) is kept aside untouched, the
// defaults are used, and the reason is told once. A file that is there but cannot be read (no
// permission, an input error, not a plain file) is left in place and never saved over in this
// run, since it may hold the folders the person protects.
#pragma once

#include "engine/common/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

class Settings {
public:
    /// The shape of the file this version writes; a file with a higher number is left alone.
    static constexpr std::int64_t formatVersion = 1;
    static constexpr const char* versionKey = "photoCleanup.settingsVersion";

    /// Reads the file at `path` when there is one.
    explicit Settings(std::string path);

    /// The values of a settings file's text, or why they cannot be used (then `values` is empty).
    struct Parsed {
        Json values;
        std::optional<std::string> problem;
    };
    static Parsed parse(std::string_view text);
    /// Settings from a file's text that are never saved; for checking the reader on its own.
    static Settings fromText(std::string_view text);

    /// Why the stored settings were not used; absent when they were, or when there were none.
    const std::optional<std::string>& problem() const { return m_problem; }

    /// Each reader gives nothing when the key is missing or holds a value of another type.
    std::vector<std::string> strings(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<std::int64_t> integer(const std::string& key) const;

    void set(const std::string& key, Json value);
    /// Writes the file atomically; the system's words when that failed. Does nothing when the
    /// stored file could not be read or kept aside (see `problem`).
    std::optional<std::string> save() const;

private:
    Settings() = default;

    std::string m_path;
    Json m_values = Json::object();
    std::optional<std::string> m_problem;
    bool m_saves = true;
};

} // namespace vp
