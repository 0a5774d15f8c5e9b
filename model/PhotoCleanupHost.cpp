#include "PhotoCleanupHost.h"

#include "platform/Home.h"

namespace vp {

const std::string& PhotoCleanupHost::realHome() { return realHomeFolder(); }

std::string PhotoCleanupHost::abbreviate(const std::string& path) const {
    // A folder boundary, so that /home/ann2 is not shown as ~2 for the home /home/ann.
    if (homeFolder.empty() || homeFolder == "/") return path;
    if (path == homeFolder) return "~";
    if (path.size() > homeFolder.size() && path.starts_with(homeFolder) && path[homeFolder.size()] == '/')
        return "~" + path.substr(homeFolder.size());
    return path;
}

} // namespace vp
