#include "Text.h"

namespace vp {

std::string lowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return result;
}

std::string uppercased(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return result;
}

std::string trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.starts_with(prefix); }
bool endsWith(std::string_view text, std::string_view suffix) { return text.ends_with(suffix); }

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const auto end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return parts;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string result;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) result += separator;
        result += parts[i];
    }
    return result;
}

std::string lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos || path == "/") return std::string(path);
    return std::string(path.substr(slash + 1));
}

std::string deletingLastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string pathExtension(std::string_view path) {
    const std::string name = lastPathComponent(path);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

std::string deletingPathExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(name);
    return std::string(name.substr(0, dot));
}

std::string hexadecimal(const unsigned char* bytes, std::size_t count) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(count * 2, '0');
    for (std::size_t i = 0; i < count; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 0x0f];
    }
    return text;
}

std::size_t utf8Sequence(std::string_view text, std::size_t at, char32_t& codePoint) {
    const auto byte = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t least = 0; // the smallest value this length may carry; below it the form is overlong
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2, value = lead & 0x1f, least = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3, value = lead & 0x0f, least = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return 0; // a continuation byte, C0/C1 (always overlong) or F5–FF
    }
    if (text.size() - at < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(at + i);
        if ((next & 0xc0) != 0x80) return 0;
        value = (value << 6) | (next & 0x3f);
    }
    if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) return 0;
    codePoint = value;
    return length;
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        char32_t codePoint = 0;
        const std::size_t length = utf8Sequence(text, at, codePoint);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

namespace {

bool isHiddenFormatting(char32_t c) {
    return c == 0x061c || c == 0x200e || c == 0x200f || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069) ||
           c == 0x2028 || c == 0x2029;
}

void appendHex(std::string& out, unsigned value, int digits) {
    static constexpr char hex[] = "0123456789abcdef";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += hex[(value >> shift) & 0x0f];
}

} // namespace

std::string displayable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        const std::size_t length = utf8Sequence(text, at, c);
        if (length == 0) {
            out += "\\x";
            appendHex(out, static_cast<unsigned char>(text[at]), 2);
            ++at;
            continue;
        }
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            appendHex(out, static_cast<unsigned>(c), 2);
        } else if ((c >= 0x80 && c <= 0x9f) || isHiddenFormatting(c)) {
            out += "\\u";
            appendHex(out, static_cast<unsigned>(c), 4);
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

std::optional<std::string> fromDisplayable(std::string_view shown) {
    const auto hexValue = [&](std::size_t at, std::size_t digits) -> std::optional<unsigned> {
        if (shown.size() - at < digits) return std::nullopt;
        unsigned value = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            const char c = shown[at + i];
            value <<= 4;
            if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
            else return std::nullopt;
        }
        return value;
    };
    std::string bytes;
    for (std::size_t at = 0; at < shown.size();) {
        if (shown[at] != '\\') {
            bytes += shown[at++];
            continue;
        }
        if (at + 1 >= shown.size()) return std::nullopt;
        const char kind = shown[at + 1];
        if (kind == '\\' || kind == 'n' || kind == 'r' || kind == 't') {
            bytes += kind == '\\' ? '\\' : kind == 'n' ? '\n' : kind == 'r' ? '\r' : '\t';
            at += 2;
        } else if (kind == 'x') {
            const auto value = hexValue(at + 2, 2);
            if (!value) return std::nullopt;
            bytes += static_cast<char>(*value);
            at += 4;
        } else if (kind == 'u') {
            const auto value = hexValue(at + 2, 4);
            if (!value) return std::nullopt;
            // Encoded back into UTF-8: two bytes for C1, three for the formatting characters.
            if (*value < 0x800) {
                bytes += static_cast<char>(0xc0 | (*value >> 6));
            } else {
                bytes += static_cast<char>(0xe0 | (*value >> 12));
                bytes += static_cast<char>(0x80 | ((*value >> 6) & 0x3f));
            }
            bytes += static_cast<char>(0x80 | (*value & 0x3f));
            at += 6;
        } else {
            return std::nullopt;
        }
    }
    // Only what `displayable` prints: anything else (say "\x41" for "A") is not its output.
    if (displayable(bytes) != shown) return std::nullopt;
    return bytes;
}

} // namespace vp
