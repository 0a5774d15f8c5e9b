#include "AtomicFile.h"

#include "WriteAll.h"

#include "engine/common/Text.h"
#include "platform/SystemError.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vp::AtomicFile {

namespace {

std::string failure(std::string_view step, int code) {
    return std::string(step) + ": " + systemErrorText(code);
}

} // namespace

std::string write(const std::string& path, std::string_view content) {
    // A bare file name lives in the working folder.
    std::string folder = deletingLastPathComponent(path);
    if (folder.empty()) folder = ".";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return "Creating the folder: " + error.message();

    std::string temporary = folder + "/." + lastPathComponent(path) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return failure("Creating the temporary file", errno);
    // mkostemp makes the file private; the file it replaces was made with the usual mode.
    ::fchmod(fd, 0644);

    std::string problem;
    if (!writeAll(fd, content))
        problem = failure("Writing", errno);
    else if (::fsync(fd) != 0)
        problem = failure("Forcing to disk", errno);
    if (::close(fd) != 0 && problem.empty()) problem = failure("Closing", errno);
    if (problem.empty() && ::rename(temporary.c_str(), path.c_str()) != 0)
        problem = failure("Renaming", errno);
    if (!problem.empty()) {
        ::unlink(temporary.c_str());
        return problem;
    }

    if (const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return {};
}

} // namespace vp::AtomicFile
