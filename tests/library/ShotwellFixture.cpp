#include "ShotwellFixture.h"

#include "engine/catalogs/SQLite.h"
#include "engine/library/ShotwellLibrary.h"
#include "tests/catalogs/CatalogFixtures.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vp::testing {

std::optional<std::string> makeShotwellDatabaseOnce(const std::string& home, int attempt, std::string& why);

namespace {

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    for (const auto& folder : std::vector<std::string>{path != nullptr ? path : "/usr/bin:/bin"}) {
        std::size_t start = 0;
        while (start <= folder.size()) {
            const auto end = std::min(folder.find(':', start), folder.size());
            if (::access((folder.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
            start = end + 1;
        }
    }
    return false;
}

std::int64_t lastRow(const std::string& database, const std::string& table) {
    return queryInteger(database, "SELECT MAX(id) FROM " + table);
}

} // namespace

ShotwellProcess::ShotwellProcess(const std::string& home, int attempt) : m_home(home) {
    // A display number of this process's own: two "xvfb-run -a" started at once can pick the same.
    // One whose lock a killed server left behind is passed over: a new server may take that
    // lock's recycled process number for a live server and refuse to start.
    int number = 200 + (::getpid() * 7 + attempt * 131) % 700;
    for (int tries = 0; tries < 700; ++tries, number = 200 + (number - 200 + 1) % 700) {
        struct stat taken {};
        if (::stat(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), &taken) != 0 &&
            ::stat(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), &taken) != 0)
            break;
    }
    const std::string display = std::to_string(number);
    const std::string log = home + "/shotwell-output.log";
    m_pid = ::fork();
    if (m_pid != 0) {
        // Set on both sides, so the group exists before either one goes on.
        if (m_pid > 0) ::setpgid(m_pid, m_pid);
        m_group = m_pid;
        return;
    }
    ::setpgid(0, 0);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) {
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
    }
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
    // No accessibility bus and settings kept in memory: nothing but Shotwell and its display.
    ::setenv("NO_AT_BRIDGE", "1", 1);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::execlp("timeout", "timeout", "-k", "5", "120", "xvfb-run", "-n", display.c_str(), "-s", "-screen 0 1024x768x24",
             "dbus-run-session",
             "--", "shotwell", "--no-startup-progress", static_cast<char*>(nullptr));
    ::_exit(127);
}

ShotwellProcess::~ShotwellProcess() { stop(); }

bool ShotwellProcess::isRunning() {
    if (m_pid <= 0) return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

void ShotwellProcess::stop() {
    if (m_group <= 0) return;
    ::kill(-m_group, SIGTERM);
    for (int i = 0; i < 50 && isRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Whatever is left of the group (Shotwell, Xvfb, the bus) ends now.
    ::kill(-m_group, SIGKILL);
    if (m_pid > 0) ::waitpid(m_pid, nullptr, 0);
    for (int i = 0; i < 50 && ::kill(-m_group, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    m_pid = -1;
    m_group = -1;
}

std::string ShotwellProcess::log() const { return readFile(m_home + "/shotwell-output.log"); }

bool ShotwellProcess::isAvailable() {
    return onPath("shotwell") && onPath("xvfb-run") && onPath("dbus-run-session") && onPath("timeout");
}

std::optional<std::string> makeShotwellDatabase(const std::string& home, std::string& why) {
    for (int attempt = 0; attempt < 3; ++attempt)
        if (auto made = makeShotwellDatabaseOnce(home, attempt, why)) return made;
    return std::nullopt;
}

std::optional<std::string> makeShotwellDatabaseOnce(const std::string& home, int attempt, std::string& why) {
    const std::string database = home + "/.local/share/shotwell/data/photo.db";
    ShotwellProcess shotwell(home, attempt);
    for (int tenth = 0; tenth < 900; ++tenth) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!shotwell.isRunning()) break;
        struct stat status {};
        if (::stat(database.c_str(), &status) != 0) continue;
        try {
            // Its version row comes before the other tables: wait for every table the tests fill.
            if (queryInteger(database, "SELECT COUNT(*) FROM VersionTable") < 1 ||
                queryInteger(database, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                                       "('PhotoTable', 'VideoTable', 'TagTable', 'EventTable')") < 4)
                continue;
        } catch (const std::exception&) {
            continue; // still being made
        }
        // Give it a moment to finish its first start before ending it.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        shotwell.stop();
        return database;
    }
    why = "Shotwell made no database within 90 seconds. Its output:\n" + shotwell.log();
    return std::nullopt;
}

std::int64_t ShotwellRows::addPhoto(const std::string& path, int width, int height, int fileFormat, std::int64_t flags,
                                    std::int64_t exposureTime) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    execute(m_database, "INSERT INTO PhotoTable (filename, width, height, filesize, timestamp, exposure_time, "
                        "orientation, original_orientation, import_id, event_id, transformations, md5, time_created, "
                        "flags, rating, file_format, title, editable_id, developer) VALUES (" +
                            sqlText(path) + ", " + std::to_string(width) + ", " + std::to_string(height) + ", " +
                            std::to_string(status.st_size) + ", " + std::to_string(status.st_mtim.tv_sec) + ", " +
                            std::to_string(exposureTime) + ", 1, 1, 1714600000, -1, NULL, NULL, 1714600000, " +
                            std::to_string(flags) + ", 0, " + std::to_string(fileFormat) + ", NULL, -1, " +
                            (fileFormat == 1 ? "'CAMERA'" : "NULL") + ")");
    return lastRow(m_database, "PhotoTable");
}

std::int64_t ShotwellRows::addBacking(const std::string& path, int width, int height, int fileFormat) {
    // Shotwell makes this table the first time it needs it, with this statement.
    execute(m_database, "CREATE TABLE IF NOT EXISTS BackingPhotoTable (id INTEGER PRIMARY KEY, filepath TEXT UNIQUE NOT "
                        "NULL, timestamp INTEGER, filesize INTEGER, width INTEGER, height INTEGER, "
                        "original_orientation INTEGER, file_format INTEGER, time_created INTEGER )");
    struct stat status {};
    ::stat(path.c_str(), &status);
    execute(m_database, "INSERT INTO BackingPhotoTable (filepath, timestamp, filesize, width, height, "
                        "original_orientation, file_format, time_created) VALUES (" +
                            sqlText(path) + ", " + std::to_string(status.st_mtim.tv_sec) + ", " +
                            std::to_string(status.st_size) + ", " + std::to_string(width) + ", " +
                            std::to_string(height) + ", 1, " + std::to_string(fileFormat) + ", 1714600000)");
    return lastRow(m_database, "BackingPhotoTable");
}

void ShotwellRows::addCameraJpeg(std::int64_t photo, const std::string& path, int width, int height) {
    const auto backing = addBacking(path, width, height, 0);
    execute(m_database, "UPDATE PhotoTable SET develop_camera_id = " + std::to_string(backing) + " WHERE id = " +
                            std::to_string(photo));
}

void ShotwellRows::addExternalEdit(std::int64_t photo, const std::string& path, int width, int height) {
    const auto backing = addBacking(path, width, height, 0);
    execute(m_database, "UPDATE PhotoTable SET editable_id = " + std::to_string(backing) + " WHERE id = " +
                            std::to_string(photo));
}

void ShotwellRows::addTag(const std::string& name, const std::vector<std::int64_t>& photos) {
    std::string list;
    for (const auto photo : photos) list += ShotwellLibrary::photoID(photo) + ",";
    execute(m_database, "INSERT INTO TagTable (name, photo_id_list, time_created) VALUES (" + sqlText(name) + ", " +
                            sqlText(list) + ", 1714600000)");
}

void ShotwellRows::addVideo(const std::string& path) {
    execute(m_database, "INSERT INTO VideoTable (filename, width, height, clip_duration, is_interpretable, filesize, "
                        "timestamp, exposure_time, import_id, event_id, md5, time_created) VALUES (" +
                            sqlText(path) + ", 640, 480, 1.0, 1, 1000, 1714521600, 1714521600, 1714600000, -1, NULL, "
                            "1714600000)");
}

} // namespace vp::testing
