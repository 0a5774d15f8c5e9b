// SHA-256 of text held in memory (file contents are digested by the content reader, in a stream).
#pragma once

#include <string>
#include <string_view>

namespace vp {

/// Lower-case hexadecimal, 64 characters.
std::string sha256Hex(std::string_view bytes);

} // namespace vp
