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

} // namespace vp
