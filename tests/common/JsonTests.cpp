#include "engine/common/Json.h"
#include "engine/common/Uuid.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

enum class Colour { red, darkBlue };
} // namespace

template <>
struct EnumStrings<Colour> {
    static constexpr std::array cases{std::pair{Colour::red, std::string_view("red")},
                                      std::pair{Colour::darkBlue, std::string_view("darkBlue")}};
};

namespace {

struct Inner {
    std::int64_t size = 0;
    Colour colour = Colour::red;
    VP_RECORD(size, colour)
    bool operator==(const Inner&) const = default;
};

struct Outer {
    std::string name;
    std::optional<std::string> note;
    std::vector<Inner> parts;
    std::optional<Inner> extra;
    Timestamp when;
    Uuid id;
    VP_RECORD(name, note, parts, extra, when, id)
    bool operator==(const Outer&) const = default;
};

Outer sample() {
    return {"a", std::nullopt, {{10, Colour::darkBlue}, {3, Colour::red}}, std::nullopt,
            *parseIso8601("2024-02-29T23:59:58Z"), *Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8")};
}

TEST(Json, KeysFollowDeclarationOrderAndAbsentOptionalsAreLeftOut) {
    const Json json = encodeJson(sample());
    EXPECT_EQ(json.dump(),
              R"({"name":"a","parts":[{"size":10,"colour":"darkBlue"},{"size":3,"colour":"red"}],)"
              R"("when":"2024-02-29T23:59:58Z","id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C8"})");
    EXPECT_EQ(decodeJson<Outer>(json).value(), sample());
}

TEST(Json, PresentOptionalsRoundTrip) {
    Outer value = sample();
    value.note = "n";
    value.extra = Inner{7, Colour::red};
    EXPECT_EQ(decodeJson<Outer>(encodeJson(value)).value(), value);
}

TEST(Json, DecodingErrorsNameTheKey) {
    Json missing = encodeJson(sample());
    missing.erase("when");
    EXPECT_NE(decodeJson<Outer>(missing).error().find("\"when\""), std::string::npos);

    Json unknown = encodeJson(sample());
    unknown["parts"][1]["colour"] = "green";
    const std::string error = decodeJson<Outer>(unknown).error();
    EXPECT_NE(error.find("\"parts[1].colour\""), std::string::npos) << error;
    EXPECT_NE(error.find("green"), std::string::npos) << error;

    Json wrongType = encodeJson(sample());
    wrongType["name"] = 5;
    EXPECT_NE(decodeJson<Outer>(wrongType).error().find("\"name\""), std::string::npos);

    EXPECT_FALSE(decodeJsonText<Outer>("{not json").hasValue());
}

struct Counts {
    std::int64_t signedWide = 0;
    std::uint64_t unsignedWide = 0;
    std::uint32_t narrow = 0;
    bool flag = false;
    double real = 0;
    std::vector<std::int64_t> list;
    std::optional<std::int64_t> maybe;
    VP_RECORD(signedWide, unsignedWide, narrow, flag, real, list, maybe)
    bool operator==(const Counts&) const = default;
};

std::string countsWith(const std::string& key, const std::string& number) {
    std::string text = R"({"signedWide":1,"unsignedWide":2,"narrow":3,"flag":true,"real":0.5,"list":[4],"maybe":5})";
    const auto at = text.find("\"" + key + "\":") + key.size() + 3;
    const auto end = text.find_first_of(",}", text[at] == '[' ? text.find(']', at) : at);
    return text.replace(at, end - at, number);
}

// Every number is checked before it is converted: a float outside the type's range would be
// undefined behaviour in the conversion, an unsigned one above it would wrap.
TEST(Json, NumbersThatDoNotFitTheirFieldAreDamage) {
    EXPECT_TRUE(decodeJsonText<Counts>(countsWith("narrow", "3")).hasValue());
    const std::pair<std::string, std::string> damaged[] = {
        {"signedWide", "1.7e+101"},  {"signedWide", "-1e300"},         {"signedWide", "9223372036854775808"},
        {"signedWide", "1.5"},       {"signedWide", "1.0"},            {"signedWide", "\"NaN\""},
        {"unsignedWide", "-1"},      {"unsignedWide", "18446744073709551616"},
        {"narrow", "4294967296"},    {"narrow", "-1"},                 {"flag", "1"},
        {"real", "1e400"},           {"real", "\"Infinity\""},         {"list", "[1,2.5]"},
        {"list", "[1e300]"},         {"maybe", "1.7e+101"},
    };
    for (const auto& [key, number] : damaged) {
        const auto decoded = decodeJsonText<Counts>(countsWith(key, number));
        ASSERT_FALSE(decoded.hasValue()) << key << " = " << number;
        // nlohmann refuses 1e400 as text already; everything else is refused by its field.
        if (number != "1e400") {
            EXPECT_NE(decoded.error().find("\"" + key), std::string::npos) << decoded.error();
        }
    }
    const auto edges = decodeJsonText<Counts>(
        R"({"signedWide":-9223372036854775808,"unsignedWide":18446744073709551615,"narrow":4294967295,)"
        R"("flag":false,"real":-2,"list":[],"maybe":null})");
    ASSERT_TRUE(edges.hasValue()) << edges.error();
    EXPECT_EQ(edges->signedWide, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(edges->unsignedWide, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(edges->narrow, 4294967295u);
    EXPECT_EQ(edges->real, -2.0);
}

TEST(Json, DatesAreUtcWithSecondsAndRejectOtherForms) {
    const auto time = parseIso8601("2001-01-01T00:00:00Z");
    ASSERT_TRUE(time);
    EXPECT_EQ(time->time_since_epoch(), std::chrono::seconds(978307200));
    EXPECT_EQ(iso8601(*time + std::chrono::milliseconds(900)), "2001-01-01T00:00:00Z");
    EXPECT_FALSE(parseIso8601("2001-01-01 00:00:00"));
    EXPECT_FALSE(parseIso8601("2001-02-30T00:00:00Z"));
    EXPECT_FALSE(parseIso8601("2001-01-01T00:00:00Zjunk"));
    // A year a nanosecond clock cannot hold, from a damaged journal line.
    EXPECT_FALSE(parseIso8601("1012-06-01T00:00:00Z"));
}

TEST(Json, UuidsAreUpperCaseAndRandomOnesAreVersionFour) {
    const Uuid a = Uuid::random(), b = Uuid::random();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.text()[14], '4');
    EXPECT_EQ(Uuid::parse(a.text()), a);
    EXPECT_FALSE(Uuid::parse("6BA7B810-9DAD-11D1-80B4-00C04FD430C"));
    EXPECT_FALSE(Uuid::parse("6BA7B810+9DAD-11D1-80B4-00C04FD430C8"));
}

TEST(Json, HashCoversEveryField) {
    Outer a = sample(), b = sample();
    EXPECT_EQ(std::hash<Outer>{}(a), std::hash<Outer>{}(b));
    b.parts[1].size = 4;
    EXPECT_NE(std::hash<Outer>{}(a), std::hash<Outer>{}(b));
    EXPECT_NE(a, b);
}

} // namespace
} // namespace vp
