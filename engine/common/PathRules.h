// Path arithmetic used wherever a path is compared with the chosen folders.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vp::PathRules {

/// Fully resolved by the system (links and dot components); absent when it cannot be resolved.
std::optional<std::string> real(const std::string& path);

/// Lexical normal form: empty and "." components dropped, ".." removes the previous one,
/// joined with "/" behind a leading "/".
std::string standardized(std::string_view path);

/// True when `path` is `root` or lies below it. Every path is inside "/".
bool isInside(std::string_view path, std::string_view root);

/// True when no symbolic link stands anywhere above the file: the real path of its parent
/// folder equals the standardized parent path.
bool parentHasNoLinks(const std::string& path);

} // namespace vp::PathRules
