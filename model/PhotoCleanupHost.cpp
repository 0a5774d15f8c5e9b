#include "PhotoCleanupHost.h"

#include "engine/common/PathRules.h"
#include "platform/Home.h"

namespace vp::PhotoCleanupHost {

const std::string& realHome() { return realHomeFolder(); }

std::string abbreviate(const std::string& path) {
    const std::string& home = realHome();
    // A folder boundary, so that /home/ann2 is not shown as ~2 for the home /home/ann.
    if (home.empty() || home == "/" || !PathRules::isInside(path, home)) return path;
    return "~" + path.substr(home.size());
}

} // namespace vp::PhotoCleanupHost
