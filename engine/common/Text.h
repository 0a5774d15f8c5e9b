// Small text helpers shared by every library.
#pragma once

#include <optional>
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

// ---- File names are bytes
// A Linux file name is any bytes but "/" and NUL: it need not be UTF-8, and it may hold line
// breaks and terminal control sequences. Paths are kept as those exact bytes everywhere; only
// what is printed for a person is escaped (below), and what JSON holds (Json.h).

/// The length of the well-formed UTF-8 sequence that starts at `text[at]` (1 to 4), with its
/// code point in `codePoint`; 0 when no well-formed sequence starts there (a stray continuation
/// byte, a cut-off sequence, an overlong form, a surrogate or a value above U+10FFFF).
std::size_t utf8Sequence(std::string_view text, std::size_t at, char32_t& codePoint);
bool isValidUtf8(std::string_view text);

/// The text as it may be printed on a terminal: one line that cannot recolour or move the
/// cursor, and from which the exact bytes can be read off again.
///  - a byte that is not part of valid UTF-8 is shown as \xNN (two lower-case hex digits);
///  - control characters as \n, \r, \t or \xNN (C0 and DEL), \uNNNN (C1, U+0080–U+009F);
///  - the line and paragraph separators U+2028/U+2029 and the bidirectional controls
///    (U+061C, U+200E, U+200F, U+202A–U+202E, U+2066–U+2069) as \uNNNN, so that a name cannot
///    reorder the rest of the line;
///  - a backslash as \\; everything else as it is.
/// Plain names ("IMG_0101.jpg", "Café 東京.jpg") come out unchanged.
std::string displayable(std::string_view text);
/// The bytes `displayable` was given, read back from what it printed; absent when `shown` is not
/// something it prints (a lone backslash, an unknown escape, an escape of a character it shows
/// as it is).
std::optional<std::string> fromDisplayable(std::string_view shown);

} // namespace vp
