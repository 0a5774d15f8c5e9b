#include "Uuid.h"

#include <random>

namespace vp {

Uuid Uuid::random() {
    std::random_device source;
    Uuid uuid;
    for (std::size_t i = 0; i < uuid.bytes.size(); i += 4) {
        const auto word = source();
        for (std::size_t k = 0; k < 4; ++k) uuid.bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
    }
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0f) | 0x40);
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3f) | 0x80);
    return uuid;
}

static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    Uuid uuid;
    std::size_t byte = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        const int high = hexDigit(text[i]), low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        uuid.bytes[byte++] = static_cast<std::uint8_t>(high * 16 + low);
        i += 2;
    }
    return uuid;
}

std::string Uuid::text() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string result;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) result += '-';
        result += digits[bytes[i] >> 4];
        result += digits[bytes[i] & 0x0f];
    }
    return result;
}

void to_json(Json& json, const Uuid& uuid) { json = uuid.text(); }

void from_json(const Json& json, Uuid& uuid) {
    if (!json.is_string()) throw JsonDecodingError("", "expected a UUID");
    const auto parsed = Uuid::parse(json.get<std::string>());
    if (!parsed) throw JsonDecodingError("", "expected a UUID");
    uuid = *parsed;
}

} // namespace vp
