// The system's own words for an error number.
#pragma once

#include <string>

namespace vp {

/// strerror text for `code`, in English whatever the locale ("Permission denied").
std::string systemErrorText(int code);

} // namespace vp
