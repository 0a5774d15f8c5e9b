// The small vocabulary of the application model: chosen folders, phases, modes and scopes.
#pragma once

#include "engine/common/Json.h"

#include <string>
#include <string_view>

namespace vp {

/// One chosen folder.
struct PhotoSource {
    std::string path;
    bool isProtected = false; ///< its copies are never marked and are preferred as keepers
    std::string volumeName;
    bool isExternal = false;

    /// The folder at `path` (absolute), with its volume's facts.
    static PhotoSource at(const std::string& path, bool isProtected);
    bool operator==(const PhotoSource&) const = default;
};

enum class Phase { idle, scanning, results, executing };

/// Which group list is shown.
enum class Mode { exact, similar, series };

template <>
struct EnumStrings<Mode> {
    static constexpr std::array cases{std::pair{Mode::exact, std::string_view("exact")},
                                      std::pair{Mode::similar, std::string_view("similar")},
                                      std::pair{Mode::series, std::string_view("series")}};
};

std::string_view name(Mode mode);
std::string_view explanation(Mode mode);

/// Where pictures come from. Only folders are scanned so far.
enum class Scope { folders, photosLibrary, lightroom, captureOne };

template <>
struct EnumStrings<Scope> {
    static constexpr std::array cases{std::pair{Scope::folders, std::string_view("folders")},
                                      std::pair{Scope::photosLibrary, std::string_view("photosLibrary")},
                                      std::pair{Scope::lightroom, std::string_view("lightroom")},
                                      std::pair{Scope::captureOne, std::string_view("captureOne")}};
};

} // namespace vp
