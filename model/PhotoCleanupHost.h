// Facts about the process the application runs in, set once at start-up.
#pragma once

#include <string>
#include <string_view>

namespace vp::PhotoCleanupHost {

inline constexpr std::string_view productName = "Velmo Pristel";
/// No sandbox on Linux: plain paths everywhere.
inline constexpr bool isSandboxed = false;

/// The home folder of the real user's password entry, else the process's $HOME; computed once.
const std::string& realHome();

/// The path with the home folder shown as "~" ("~/Pictures/a.jpg"); other paths as they are.
std::string abbreviate(const std::string& path);

} // namespace vp::PhotoCleanupHost
