// Writing a whole buffer to a descriptor.
#pragma once

#include <string_view>

namespace vp {

/// Writes every byte, resuming after short writes and signals. False on failure, with errno set.
bool writeAll(int fd, std::string_view bytes);

} // namespace vp
