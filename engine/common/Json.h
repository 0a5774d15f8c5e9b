// One JSON convention for every record of the system:
// - keys are the field names, in declaration order;
// - enumerations are written as their raw strings;
// - optional fields are left out when absent and accepted when missing;
// - a missing required key or an unknown raw value is a decoding error naming the key;
// - dates are ISO 8601 in UTC with seconds precision; UUIDs upper-case and hyphenated;
// - text is kept as bytes, losslessly, whether it is UTF-8 or not (below).
//
// A record opts in with VP_RECORD(field, field, ...) inside its struct; an enumeration
// by specialising EnumStrings with its cases and raw values in order.
//
// ---- Text that is not UTF-8
// A file name on Linux is bytes and need not be UTF-8, while JSON text is Unicode. So a vp::Json
// holds its text as JsonString, JSON text proper, and every std::string put in (a record field,
// an array or map element, a plain value; by assignment, construction, push_back or emplace) is
// escaped into it; `get<std::string>()` (and so every record decoder) unescapes. Text the parser
// reads is JSON text already and is kept as it is. The escape:
//  - valid UTF-8 is written as it is, except the code points U+10FF80 to U+10FFFF (the last 128
//    of the private use plane 16), which are reserved for the escape;
//  - each byte 0x80–0xFF that is not part of well-formed UTF-8 (a stray continuation byte, a
//    cut-off sequence, an overlong form, an encoded surrogate, the bytes C0, C1 and F5–FF)
//    becomes the code point U+10FF00 + byte, i.e. one of U+10FF80 to U+10FFFF;
//  - a reserved code point standing in the bytes themselves is escaped byte by byte the same way
//    (its four UTF-8 bytes become four reserved code points).
// Unescaping turns every reserved code point back into its one byte and leaves everything else
// alone, so it is the exact inverse for every byte string: ASCII and every other character are
// untouched, and JSON written before the escape existed (valid UTF-8) reads back unchanged unless
// it held one of the 128 reserved code points. In JSON text an escaped byte is that character,
// or "\udbff\udf80" to "\udbff\udfff" where ASCII is asked for (dump's ensure_ascii). Scripts
// reading the terminal's --json output decode names the same way (README.md shows how).
// Object keys written with `json[key]` are not escaped: they are field names. A map keyed by
// text (std::map<std::string, V>) is escaped key by key like any other text.
#pragma once

#include "Result.h"

#include <array>
#include <chrono>
#include <cmath>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vp {

/// Bytes as JSON text and back, as described above; `fromJsonText(toJsonText(b)) == b` for
/// every byte string, and `toJsonText(t) == t` for UTF-8 text without reserved code points.
std::string toJsonText(std::string_view bytes);
std::string fromJsonText(std::string_view text);

/// The text a vp::Json holds: JSON text, that is valid UTF-8 with bytes escaped as above. A type
/// of its own so that text the parser reads is kept as it is, while a std::string put in is
/// escaped; it converts to and from std::string freely (field names, dump()).
class JsonString : public std::string {
public:
    using std::string::string;
    JsonString() = default;
    JsonString(const std::string& text) : std::string(text) {}
    JsonString(std::string&& text) : std::string(std::move(text)) {}
};

template <class T, class = void>
struct JsonSerializer;

/// nlohmann's ordered JSON, with its text held as JsonString and escaped by JsonSerializer.
using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, JsonString, bool, std::int64_t, std::uint64_t,
                                  double, std::allocator, JsonSerializer>;

/// Every type but text: nlohmann's own serializer, with the specialisations below and those of
/// the records. Written as nlohmann's adl_serializer is, so that its traits detect the same.
template <class T, class>
struct JsonSerializer {
    template <class J, class Target = T>
    static auto from_json(J&& json, Target& value) noexcept(
        noexcept(nlohmann::adl_serializer<T>::from_json(std::forward<J>(json), value)))
        -> decltype(nlohmann::adl_serializer<T>::from_json(std::forward<J>(json), value), void()) {
        nlohmann::adl_serializer<T>::from_json(std::forward<J>(json), value);
    }

    template <class J, class Target = T>
    static auto from_json(J&& json) noexcept(noexcept(nlohmann::adl_serializer<T>::from_json(std::forward<J>(json))))
        -> decltype(nlohmann::adl_serializer<T>::from_json(std::forward<J>(json))) {
        return nlohmann::adl_serializer<T>::from_json(std::forward<J>(json));
    }

    template <class J, class Target = T>
    static auto to_json(J& json, Target&& value) noexcept(
        noexcept(nlohmann::adl_serializer<T>::to_json(json, std::forward<Target>(value))))
        -> decltype(nlohmann::adl_serializer<T>::to_json(json, std::forward<Target>(value)), void()) {
        nlohmann::adl_serializer<T>::to_json(json, std::forward<Target>(value));
    }
};

namespace detail {
template <class T>
concept TextLike = std::same_as<T, std::string> || std::same_as<T, std::string_view> || std::same_as<T, const char*> ||
                   std::same_as<T, char*> || (std::is_array_v<T> && std::same_as<std::remove_extent_t<T>, char>) ||
                   (std::is_array_v<T> && std::same_as<std::remove_extent_t<T>, const char>);
template <class T>
struct IsTextMap : std::false_type {};
template <class V, class C, class A>
struct IsTextMap<std::map<std::string, V, C, A>> : std::true_type {};
} // namespace detail

/// Text: escaped on the way in, unescaped on the way out.
template <class T>
    requires detail::TextLike<T>
struct JsonSerializer<T, void> {
    template <class J>
    static void to_json(J& json, std::string_view bytes) {
        nlohmann::to_json(json, typename J::string_t(toJsonText(bytes)));
    }

    template <class J>
        requires std::same_as<T, std::string>
    static void from_json(const J& json, std::string& bytes) {
        typename J::string_t text;
        nlohmann::from_json(json, text); // throws nlohmann's type error for anything but a string
        bytes = fromJsonText(text);
    }
};

using Timestamp = std::chrono::system_clock::time_point;

// ---- Enumerations with raw strings

template <class E>
struct EnumStrings; // specialise: static constexpr std::array<std::pair<E, std::string_view>, N> cases

template <class E>
concept RawEnum = std::is_enum_v<E> && requires { EnumStrings<E>::cases; };

template <RawEnum E>
constexpr std::string_view rawValue(E value) {
    for (const auto& [member, raw] : EnumStrings<E>::cases)
        if (member == value) return raw;
    return {};
}

template <RawEnum E>
constexpr std::optional<E> enumFromRaw(std::string_view raw) {
    for (const auto& [member, text] : EnumStrings<E>::cases)
        if (text == raw) return member;
    return std::nullopt;
}

/// Every case, in declaration order.
template <RawEnum E>
constexpr auto allCases() {
    constexpr auto& cases = EnumStrings<E>::cases;
    std::array<E, cases.size()> result{};
    for (std::size_t i = 0; i < cases.size(); ++i) result[i] = cases[i].first;
    return result;
}

// ---- Records

#define VP_RECORD(...)                                                                                       \
    static constexpr std::string_view recordFieldList = #__VA_ARGS__;                                        \
    auto recordFields() const { return std::tie(__VA_ARGS__); }                                              \
    auto recordFields() { return std::tie(__VA_ARGS__); }

template <class T>
concept Record = requires(const T& record) {
    T::recordFieldList;
    record.recordFields();
};

namespace detail {
std::vector<std::string> splitFieldList(std::string_view list);
}

/// The JSON keys of a record, in declaration order.
template <Record T>
const std::vector<std::string>& recordKeys() {
    static const std::vector<std::string> keys = detail::splitFieldList(T::recordFieldList);
    return keys;
}

/// Thrown by the decoders below; `decodeJson` turns it into a failure text.
class JsonDecodingError : public std::runtime_error {
public:
    JsonDecodingError(std::string key, std::string problem);
    const std::string& key() const { return m_key; }
    const std::string& problem() const { return m_problem; }
    /// The same problem, seen from the object that holds `outerKey`.
    JsonDecodingError inside(std::string_view outerKey) const;

private:
    std::string m_key;
    std::string m_problem;
};

namespace detail {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

/// `value` as an integer of type T, or a decoding error. nlohmann converts any number to any
/// arithmetic type with a plain cast, which is undefined for a float outside T's range (1e300)
/// and silently wraps an unsigned number above T's maximum: such a number is damage, not data.
template <class T>
T integerValue(const Json& value, std::string_view key) {
    static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>);
    if (!value.is_number_integer()) throw JsonDecodingError(std::string(key), "expected a whole number");
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(std::numeric_limits<T>::max())) return static_cast<T>(number);
    } else {
        const auto number = value.get<std::int64_t>();
        if (std::in_range<T>(number)) return static_cast<T>(number);
    }
    throw JsonDecodingError(std::string(key), "number out of range");
}

/// `value` as a finite floating-point number; an integer is taken as the nearest one.
template <class T>
T floatingValue(const Json& value, std::string_view key) {
    static_assert(std::is_floating_point_v<T>);
    if (!value.is_number()) throw JsonDecodingError(std::string(key), "expected a number");
    const auto number = value.get<double>();
    if (!std::isfinite(number) || std::fabs(number) > static_cast<double>(std::numeric_limits<T>::max()))
        throw JsonDecodingError(std::string(key), "number out of range");
    return static_cast<T>(number);
}

template <class T>
struct IsVector : std::false_type {};
template <class T, class A>
struct IsVector<std::vector<T, A>> : std::true_type {};

template <class T>
T decodeOther(const Json& value, std::string_view key) {
    try {
        return value.get<T>();
    } catch (const JsonDecodingError& error) {
        throw error.inside(key);
    } catch (const nlohmann::json::exception& error) {
        throw JsonDecodingError(std::string(key), error.what());
    }
}

template <class T>
T decodeValue(const Json& value, std::string_view key) {
    if constexpr (std::is_same_v<T, bool>) {
        if (!value.is_boolean()) throw JsonDecodingError(std::string(key), "expected true or false");
        return value.get<bool>();
    } else if constexpr (std::is_integral_v<T>) {
        return integerValue<T>(value, key);
    } else if constexpr (std::is_floating_point_v<T>) {
        return floatingValue<T>(value, key);
    } else if constexpr (IsVector<T>::value) {
        // Element by element, so numbers inside lists get the same checks.
        if (!value.is_array()) throw JsonDecodingError(std::string(key), "expected a list");
        T list;
        list.reserve(value.size());
        for (std::size_t i = 0; i < value.size(); ++i)
            list.push_back(
                decodeValue<typename T::value_type>(value[i], std::string(key) + "[" + std::to_string(i) + "]"));
        return list;
    } else {
        return decodeOther<T>(value, key);
    }
}

template <class T>
void encodeField(Json& object, const std::string& key, const T& field) {
    if constexpr (IsOptional<T>::value) {
        if (field) object[key] = *field;
    } else {
        object[key] = field;
    }
}

template <class T>
void decodeField(const Json& object, const std::string& key, T& field) {
    const auto found = object.find(key);
    if constexpr (IsOptional<T>::value) {
        if (found == object.end() || found->is_null())
            field.reset();
        else
            field = decodeValue<typename T::value_type>(*found, key);
    } else {
        if (found == object.end()) throw JsonDecodingError(key, "missing");
        field = decodeValue<T>(*found, key);
    }
}

} // namespace detail

/// Maps keyed by text: each key escaped like any other text.
template <class T>
    requires detail::IsTextMap<T>::value
struct JsonSerializer<T, void> {
    template <class J>
    static void to_json(J& json, const T& map) {
        json = J::object();
        for (const auto& [key, value] : map) json[toJsonText(key)] = value;
    }

    template <class J>
    static void from_json(const J& json, T& map) {
        if (!json.is_object()) throw JsonDecodingError("", "expected an object");
        T decoded;
        for (auto it = json.begin(); it != json.end(); ++it)
            decoded.emplace(fromJsonText(it.key()), detail::decodeValue<typename T::mapped_type>(it.value(), it.key()));
        map = std::move(decoded);
    }
};

/// Encodes a record field by field.
template <Record T>
void encodeRecord(Json& json, const T& record) {
    json = Json::object();
    const auto& keys = recordKeys<T>();
    std::size_t index = 0;
    std::apply([&](const auto&... field) { (detail::encodeField(json, keys[index++], field), ...); },
               record.recordFields());
}

/// Decodes a record field by field; throws JsonDecodingError naming the first bad key.
template <Record T>
void decodeRecord(const Json& json, T& record) {
    if (!json.is_object()) throw JsonDecodingError("", "expected an object");
    const auto& keys = recordKeys<T>();
    std::size_t index = 0;
    std::apply([&](auto&... field) { (detail::decodeField(json, keys[index++], field), ...); },
               record.recordFields());
}

template <RawEnum E>
void decodeEnum(const Json& json, E& value) {
    if (!json.is_string()) throw JsonDecodingError("", "expected a string");
    const auto raw = json.get<std::string>();
    const auto decoded = enumFromRaw<E>(raw);
    if (!decoded) throw JsonDecodingError("", "unknown value \"" + raw + "\"");
    value = *decoded;
}

// ---- Entry points

template <class T>
Json encodeJson(const T& value) {
    return Json(value);
}

/// The decoded value, or a sentence naming the offending key.
template <class T>
Result<T, std::string> decodeJson(const Json& json) {
    try {
        return json.get<T>();
    } catch (const JsonDecodingError& error) {
        return Unexpected{std::string(error.what())};
    } catch (const nlohmann::json::exception& error) {
        return Unexpected{std::string(error.what())};
    }
}

template <class T>
Result<T, std::string> decodeJsonText(std::string_view text) {
    Json json = Json::parse(text, nullptr, false);
    if (json.is_discarded()) return Unexpected{std::string("Not valid JSON.")};
    return decodeJson<T>(json);
}

// ---- Dates

/// "2024-05-01T10:20:30Z": UTC, whole seconds.
std::string iso8601(Timestamp time);
std::optional<Timestamp> parseIso8601(std::string_view text);

// ---- Hashing over all fields

inline void hashCombine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

template <class T>
std::size_t hashValue(const T& value);

namespace detail {
template <class T>
struct IsRange : std::false_type {};
template <class T, class A>
struct IsRange<std::vector<T, A>> : std::true_type {};
template <class T, class C, class A>
struct IsRange<std::set<T, C, A>> : std::true_type {};
template <class K, class V, class C, class A>
struct IsRange<std::map<K, V, C, A>> : std::true_type {};
template <class T>
struct IsPair : std::false_type {};
template <class A, class B>
struct IsPair<std::pair<A, B>> : std::true_type {};
} // namespace detail

template <class T>
std::size_t hashValue(const T& value) {
    if constexpr (Record<T>) {
        std::size_t seed = 0;
        std::apply([&](const auto&... field) { (hashCombine(seed, hashValue(field)), ...); },
                   value.recordFields());
        return seed;
    } else if constexpr (detail::IsOptional<T>::value) {
        return value ? hashValue(*value) + 1 : 0;
    } else if constexpr (detail::IsRange<T>::value) {
        std::size_t seed = value.size();
        for (const auto& element : value) hashCombine(seed, hashValue(element));
        return seed;
    } else if constexpr (detail::IsPair<T>::value) {
        std::size_t seed = hashValue(value.first);
        hashCombine(seed, hashValue(value.second));
        return seed;
    } else if constexpr (std::is_same_v<T, Timestamp>) {
        return std::hash<long long>{}(value.time_since_epoch().count());
    } else {
        return std::hash<T>{}(value);
    }
}

} // namespace vp

template <class T>
    requires vp::Record<T>
struct std::hash<T> {
    std::size_t operator()(const T& value) const { return vp::hashValue(value); }
};

// Records and enumerations are found by their traits wherever they are declared.
template <class T>
    requires vp::Record<T>
struct nlohmann::adl_serializer<T, void> {
    static void to_json(vp::Json& json, const T& record) { vp::encodeRecord(json, record); }
    static void from_json(const vp::Json& json, T& record) { vp::decodeRecord(json, record); }
};

template <class E>
    requires vp::RawEnum<E>
struct nlohmann::adl_serializer<E, void> {
    static void to_json(vp::Json& json, E value) { json = std::string(vp::rawValue(value)); }
    static void from_json(const vp::Json& json, E& value) { vp::decodeEnum(json, value); }
};

template <>
struct nlohmann::adl_serializer<vp::Timestamp> {
    static void to_json(vp::Json& json, const vp::Timestamp& time) { json = vp::iso8601(time); }
    static void from_json(const vp::Json& json, vp::Timestamp& time) {
        if (!json.is_string()) throw vp::JsonDecodingError("", "expected an ISO 8601 date");
        const auto parsed = vp::parseIso8601(json.get<std::string>());
        if (!parsed) throw vp::JsonDecodingError("", "expected an ISO 8601 date");
        time = *parsed;
    }
};
