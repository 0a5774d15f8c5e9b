// Small text helpers shared by every library.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vp {

/// ASCII lower case; other bytes (UTF-8 or not) are left as they are.
std::string lowercased(std::string_view text);
std::string uppercased(std::string_view text);
std::string trimmed(std::string_view text);
bool startsWith(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);
std::vector<std::string> split(std::string_view text, char separator);
std::string joined(const std::vector<std::string>& parts, std::string_view separator);

/// The last path component ("c" of "/a/b/c"); the whole text when it has no "/".
std::string lastPathComponent(std::string_view path);
/// The path without its last component ("/a/b" of "/a/b/c", "/" of "/a").
std::string deletingLastPathComponent(std::string_view path);
/// The text after the last "." of the last component, empty when there is none.
std::string pathExtension(std::string_view path);
/// The last component without its extension and its ".".
std::string deletingPathExtension(std::string_view name);

/// Lower-case hexadecimal, two digits a byte.
std::string hexadecimal(const unsigned char* bytes, std::size_t count);

} // namespace vp
