// The person's real home folder.
#pragma once

#include <string>

namespace vp {

/// The home folder of the real user's password entry, else $HOME; computed once.
const std::string& realHomeFolder();

} // namespace vp
