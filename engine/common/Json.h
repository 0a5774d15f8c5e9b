// One JSON convention for every record of the system:
// - keys are the field names, in declaration order;
// - enumerations are written as their raw strings;
// - optional fields are left out when absent and accepted when missing;
// - a missing required key or an unknown raw value is a decoding error naming the key;
// - dates are ISO 8601 in UTC with seconds precision; UUIDs upper-case and hyphenated.
//
// A record opts in with VP_RECORD(field, field, ...) inside its struct; an enumeration
// by specialising EnumStrings with its cases and raw values in order.
#pragma once

#include "Result.h"

#include <array>
#include <chrono>
#include <cmath>
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

using Json = nlohmann::ordered_json;
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
