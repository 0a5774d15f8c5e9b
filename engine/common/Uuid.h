// Universally unique identifiers, written upper-case and hyphenated.
#pragma once

#include "Json.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vp {

struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    /// A random (version 4) identifier.
    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);
    /// "6BA7B810-9DAD-11D1-80B4-00C04FD430C8".
    std::string text() const;

    auto operator<=>(const Uuid&) const = default;
};

void to_json(Json& json, const Uuid& uuid);
void from_json(const Json& json, Uuid& uuid);

} // namespace vp

template <>
struct std::hash<vp::Uuid> {
    std::size_t operator()(const vp::Uuid& uuid) const { return std::hash<std::string>{}(uuid.text()); }
};
