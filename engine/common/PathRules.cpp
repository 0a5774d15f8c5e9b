#include "PathRules.h"

#include "Text.h"

#include <climits>
#include <cstdlib>
#include <vector>

namespace vp::PathRules {

std::optional<std::string> real(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::nullopt;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::string standardized(std::string_view path) {
    std::vector<std::string> components;
    for (auto& component : split(path, '/')) {
        if (component.empty() || component == ".") continue;
        if (component == "..") {
            if (!components.empty()) components.pop_back();
            continue;
        }
        components.push_back(std::move(component));
    }
    return "/" + joined(components, "/");
}

bool isInside(std::string_view path, std::string_view root) {
    if (root == "/") return path.starts_with("/");
    if (path == root) return true;
    return path.size() > root.size() && path.starts_with(root) && path[root.size()] == '/';
}

bool parentHasNoLinks(const std::string& path) {
    const std::string parent = deletingLastPathComponent(standardized(path));
    const auto resolved = real(parent);
    return resolved && *resolved == parent;
}

} // namespace vp::PathRules
