// Real temporary folders for tests, and a way to run a check as an unprivileged user
// (root passes every permission check, so "unreadable" can only be seen from another user).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vp::testing {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    /// `relative` joined under the folder.
    std::string operator/(std::string_view relative) const { return m_path + "/" + std::string(relative); }

    /// Writes a file (creating its folders) and returns its full path.
    std::string write(std::string_view relative, std::string_view content) const;
    /// Creates a folder (and its parents) and returns its full path.
    std::string folder(std::string_view relative) const;
    /// Leaves the folder behind when this goes, for a script to go on with.
    void keep() { m_kept = true; }

private:
    std::string m_path;
    bool m_kept = false;
};

/// Runs `check` in a forked child that has dropped to user and group "nobody" (65534).
/// Returns the child's exit status: `check`'s result, or 125 when the drop failed.
int runAsUnprivilegedUser(const std::function<int()>& check);

void writeFile(const std::string& path, std::string_view content);
std::string readFile(const std::string& path);

} // namespace vp::testing
