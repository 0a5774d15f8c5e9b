#include "SystemError.h"

#include <cstring>

namespace vp {

std::string systemErrorText(int code) {
    char buffer[256];
    // The GNU variant may return a static string instead of filling the buffer.
    const char* text = ::strerror_r(code, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : "Unknown error " + std::to_string(code);
}

} // namespace vp
