// The EXIF original date-time carries no time zone. It is read as GMT on every computer so that
// the same photo gets the same date wherever it is scanned, and bursts compare wall-clock times.
#include "FeatureExtractor.h"

#include <chrono>

namespace vp::FeatureExtractor {
namespace {

/// The number in text[start, start + count), or -1 when any of it is not a digit.
int digits(std::string_view text, std::size_t start, std::size_t count) {
    int value = 0;
    for (std::size_t i = start; i < start + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

} // namespace

std::optional<Timestamp> captureDate(const std::optional<std::string>& exifDateTime) {
    if (!exifDateTime) return std::nullopt;
    std::string_view text = *exifDateTime;
    // EXIF pads its ASCII fields with NUL bytes; some writers add blanks.
    while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.remove_suffix(1);
    // "yyyy:MM:dd HH:mm:ss", nothing more and nothing less.
    if (text.size() != 19 || text[4] != ':' || text[7] != ':' || text[10] != ' ' || text[13] != ':' ||
        text[16] != ':')
        return std::nullopt;
    const int year = digits(text, 0, 4);
    const int month = digits(text, 5, 2);
    const int day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2);
    const int minute = digits(text, 14, 2);
    const int second = digits(text, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 59)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    // Also refuses the "0000:00:00 00:00:00" that cameras write when they have no clock.
    if (!date.ok()) return std::nullopt;
    // sys_days counts days of the proleptic Gregorian calendar at UTC; no time zone is consulted.
    return Timestamp{std::chrono::sys_days{date} + std::chrono::hours{hour} + std::chrono::minutes{minute} +
                     std::chrono::seconds{second}};
}

} // namespace vp::FeatureExtractor
