#include "Home.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace vp {

const std::string& realHomeFolder() {
    static const std::string home = [] {
        long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
        std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
        passwd entry{};
        passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
            found->pw_dir != nullptr && *found->pw_dir != '\0')
            return std::string(found->pw_dir);
        const char* variable = std::getenv("HOME");
        return std::string(variable != nullptr ? variable : "");
    }();
    return home;
}

std::string homeTrashFolder() {
    const auto environment = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr ? std::string(value) : std::string();
    };
    // An XDG variable that is not an absolute path is to be ignored.
    std::string dataHome = environment("XDG_DATA_HOME");
    if (dataHome.empty() || dataHome.front() != '/') {
        std::string base = environment("HOME");
        if (base.empty() || base.front() != '/') base = realHomeFolder();
        dataHome = base + "/.local/share";
    }
    return dataHome + "/Trash";
}

bool isVolumeTrashName(const std::string& name) {
    if (name == ".Trash") return true;
    if (name.rfind(".Trash-", 0) != 0 || name.size() == 7) return false;
    return name.find_first_not_of("0123456789", 7) == std::string::npos;
}

} // namespace vp
