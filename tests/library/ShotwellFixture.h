// A real Shotwell library for the tests: Shotwell itself, started once under a virtual display
// with a temporary home, creates its database; photos are then added as rows of its own schema
// over real picture files. The same Shotwell opens the database again after our changes.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vp::testing {

/// Shotwell running under xvfb-run in its own process group, with `home` as HOME and as the
/// base of its XDG folders; every process of the group is ended when this is released. A
/// time-out ends it in any case after two minutes.
class ShotwellProcess {
public:
    /// `attempt` picks another virtual display for a second try.
    explicit ShotwellProcess(const std::string& home, int attempt = 0);
    ~ShotwellProcess();
    ShotwellProcess(const ShotwellProcess&) = delete;
    ShotwellProcess& operator=(const ShotwellProcess&) = delete;

    bool isRunning();
    /// TERM to the whole group, then KILL after a few seconds; waits for it.
    void stop();
    /// Shotwell's own words on standard output and error.
    std::string log() const;

    /// True when Shotwell and xvfb-run are installed.
    static bool isAvailable();

private:
    std::string m_home;
    pid_t m_pid = -1;
    pid_t m_group = -1;
};

/// The database Shotwell makes in `home` on its first start; absent (with `why` filled in) when
/// it made none within the time-out.
std::optional<std::string> makeShotwellDatabase(const std::string& home, std::string& why);

/// Photos, files and tags added to a Shotwell database the way Shotwell stores them.
class ShotwellRows {
public:
    explicit ShotwellRows(std::string database) : m_database(std::move(database)) {}

    /// A PhotoTable row for the picture at `path`; its row id. `fileFormat`: 0 JPEG, 1 RAW, 2 PNG.
    std::int64_t addPhoto(const std::string& path, int width, int height, int fileFormat = 0, std::int64_t flags = 0,
                          std::int64_t exposureTime = 1714521600);
    /// A file behind a photo: the camera's JPEG of a RAW, or an external editor's result.
    void addCameraJpeg(std::int64_t photo, const std::string& path, int width, int height);
    void addExternalEdit(std::int64_t photo, const std::string& path, int width, int height);
    void addTag(const std::string& name, const std::vector<std::int64_t>& photos);
    void addVideo(const std::string& path);

private:
    std::int64_t addBacking(const std::string& path, int width, int height, int fileFormat);

    std::string m_database;
};

} // namespace vp::testing
