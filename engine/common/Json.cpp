#include "Json.h"

#include "Text.h"

#include <cstdio>
#include <ctime>

namespace vp {

namespace detail {
std::vector<std::string> splitFieldList(std::string_view list) {
    std::vector<std::string> keys;
    for (const auto& part : split(list, ',')) keys.push_back(trimmed(part));
    return keys;
}
} // namespace detail

namespace {

// The escape range: U+10FF00 + byte for the bytes 0x80–0xFF, i.e. U+10FF80–U+10FFFF, whose UTF-8
// form is F4 8F BE/BF 80–BF.
constexpr char32_t firstReserved = 0x10ff80;

void appendEscapedByte(std::string& text, unsigned char byte) {
    const char32_t codePoint = 0x10ff00 + byte;
    text += static_cast<char>(0xf0 | (codePoint >> 18));
    text += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3f));
    text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3f));
    text += static_cast<char>(0x80 | (codePoint & 0x3f));
}

} // namespace

std::string toJsonText(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        char32_t codePoint = 0;
        const std::size_t length = utf8Sequence(bytes, at, codePoint);
        if (length == 0) {
            appendEscapedByte(text, static_cast<unsigned char>(bytes[at]));
            ++at;
        } else if (codePoint >= firstReserved) {
            for (std::size_t i = 0; i < length; ++i) appendEscapedByte(text, static_cast<unsigned char>(bytes[at + i]));
            at += length;
        } else {
            text.append(bytes.substr(at, length));
            at += length;
        }
    }
    return text;
}

std::string fromJsonText(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    const auto byte = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    for (std::size_t at = 0; at < text.size();) {
        // F4 is only ever a lead byte in UTF-8, so the pattern cannot start inside a character.
        if (text.size() - at >= 4 && byte(at) == 0xf4 && byte(at + 1) == 0x8f && (byte(at + 2) & 0xfe) == 0xbe &&
            (byte(at + 3) & 0xc0) == 0x80) {
            bytes += static_cast<char>(((byte(at + 2) & 0x03) << 6) | (byte(at + 3) & 0x3f));
            at += 4;
        } else {
            bytes += text[at++];
        }
    }
    return bytes;
}

JsonDecodingError::JsonDecodingError(std::string key, std::string problem)
    : std::runtime_error(key.empty() ? problem : "\"" + key + "\": " + problem), m_key(std::move(key)),
      m_problem(std::move(problem)) {}

JsonDecodingError JsonDecodingError::inside(std::string_view outerKey) const {
    std::string key(outerKey);
    if (!m_key.empty()) key += "." + m_key;
    return JsonDecodingError(key, m_problem);
}

std::string iso8601(Timestamp time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::floor<std::chrono::seconds>(time));
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::optional<Timestamp> parseIso8601(std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char zone = 0;
    int consumed = 0;
    const std::string copy(text);
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &year, &month, &day, &hour, &minute, &second,
                    &zone, &consumed) != 7 ||
        zone != 'Z' || consumed != static_cast<int>(copy.size()))
        return std::nullopt;
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                              std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok() || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    const sys_seconds time = sys_days{date} + hours{hour} + minutes{minute} + seconds{second};
    // A time point counts nanoseconds in 64 bits: years before 1678 or after 2261 would overflow.
    constexpr auto limit = duration_cast<seconds>(Timestamp::duration::max());
    if (time.time_since_epoch() >= limit || time.time_since_epoch() <= -limit) return std::nullopt;
    return Timestamp(time);
}

} // namespace vp
