// Facts about the application the model runs in, supplied once at start-up.
#pragma once

#include <functional>
#include <string>

namespace vp {

struct PhotoCleanupHost {
    std::string appName = "Velmo Pristel";
    /// No sandbox on Linux: plain paths everywhere.
    bool isSandboxed = false;
    std::string homeFolder = realHome();
    bool supportsPhotosLibrary = false;
    /// Called after a cleanup that moved at least one picture.
    std::function<void()> cleanupFinished;

    /// The home folder of the real user's password entry, else the process's $HOME; computed once.
    static const std::string& realHome();

    /// The path with the home folder shown as "~" ("~/Pictures/a.jpg"); other paths as they are.
    std::string abbreviate(const std::string& path) const;
};

} // namespace vp
