// Real pictures in a temporary folder, a real desktop Trash inside a temporary home, and plans
// made the way the planner makes them.
#pragma once

#include "engine/cleanup/CleanupExecutor.h"
#include "engine/cleanup/CleanupPlan.h"
#include "engine/cleanup/Trasher.h"
#include "engine/common/Text.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <sys/mount.h>
#include <system_error>
#include <vector>

namespace vp {
/// Readable failures: the word, the detail and the Trash path.
inline void PrintTo(const ItemOutcome& outcome, std::ostream* out) {
    *out << outcome.word() << " (" << outcome.text << ")" << (outcome.trashPath ? " at " + *outcome.trashPath : "");
}
} // namespace vp

namespace vp::testing {

/// Points $XDG_DATA_HOME and $HOME into a temporary home for the lifetime of the object.
class TemporaryHome {
public:
    explicit TemporaryHome(const std::string& home) : m_home(home) {
        keep("HOME", m_oldHome);
        keep("XDG_DATA_HOME", m_oldData);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    }
    ~TemporaryHome() {
        restore("HOME", m_oldHome);
        restore("XDG_DATA_HOME", m_oldData);
    }
    std::string trash() const { return m_home + "/.local/share/Trash"; }
    std::string trashFiles() const { return trash() + "/files"; }

private:
    static void keep(const char* name, std::optional<std::string>& into) {
        if (const char* value = std::getenv(name)) into = value;
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    std::string m_home;
    std::optional<std::string> m_oldHome, m_oldData;
};

/// A private tmpfs mounted on a folder: a second file system, so a second volume with its own
/// Trash. Only root may mount; tests that need it skip elsewhere.
class TemporaryVolume {
public:
    explicit TemporaryVolume(std::string at, bool readOnly = false, const char* options = "size=16m")
        : m_at(std::move(at)) {
        m_mounted = ::mount("tmpfs", m_at.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options) == 0;
    }
    ~TemporaryVolume() {
        if (m_mounted) ::umount2(m_at.c_str(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    /// Makes the mounted volume read-only from now on.
    bool makeReadOnly() const { return ::mount(nullptr, m_at.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

private:
    std::string m_at;
    bool m_mounted = false;
};

/// A Trasher that fails every move with one error number, the way a system would.
class FailingTrasher final : public Trasher {
public:
    explicit FailingTrasher(int code) : m_code(code) {}
    std::optional<std::string> trash(const std::string& path) override {
        throw std::system_error(m_code, std::generic_category(), path);
    }

private:
    int m_code;
};

/// A chosen folder "Photos", a journal folder and a real Trash, all inside one temporary folder,
/// and a plan run there the way the model runs it.
class CleanupFolders : public ::testing::Test {
protected:
    Result<CleanupReport, ExecutionRefusal> run(const CleanupPlan& plan, std::shared_ptr<Trasher> trasher = nullptr) {
        const CleanupExecutor executor(journals, trasher ? std::move(trasher) : std::make_shared<FileManagerTrasher>());
        return executor.execute(plan, plan.approve(std::chrono::system_clock::now()), cancel);
    }
    static bool exists(const std::string& path) { return FileSnapshot::read(path).has_value(); }

    TempDir dir;
    TemporaryHome home{dir / "home"};
    std::string root = dir / "Photos";
    std::string journals = dir / "data/Cleanups";
    CancellationFlag cancel;
};

inline KeeperEvidence evidence(const std::string& path) { return {path, *FileSnapshot::read(path)}; }

/// A removal of the file at `path` found under `root`, with the given keepers, as planned now.
inline PlannedRemoval removalOf(const std::string& path, const std::string& root, const std::vector<std::string>& keepers,
                                MatchKind kind = MatchKind::identical) {
    PlannedRemoval removal;
    removal.path = path;
    removal.root = root;
    removal.snapshot = *FileSnapshot::read(path);
    removal.sha256 = "group-" + lastPathComponent(path);
    for (const auto& keeper : keepers) removal.keepers.push_back(evidence(keeper));
    removal.matchKind = kind;
    return removal;
}

inline CleanupPlan planOf(std::vector<std::string> roots, std::vector<PlannedRemoval> removals) {
    return CleanupPlan{Uuid::random(), std::chrono::system_clock::now(), std::move(roots), std::move(removals)};
}

} // namespace vp::testing
