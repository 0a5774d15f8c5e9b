// Text that is not UTF-8 in JSON: the escape of Json.h, byte for byte, through every way a
// string goes into or out of a vp::Json.
#include "engine/common/Json.h"
#include "engine/common/Text.h"

#include <gtest/gtest.h>

#include <random>

namespace vp {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (const int value : values) text += static_cast<char>(value);
    return text;
}

/// Through a JSON document and its text, as a record field is written and read.
std::string throughJsonText(const std::string& value) {
    Json document = Json::object();
    document["value"] = value;
    const std::string text = document.dump();
    EXPECT_TRUE(isValidUtf8(text));
    return Json::parse(text).at("value").get<std::string>();
}

struct Named {
    std::string path;
    std::optional<std::string> note;
    std::vector<std::string> others;
    VP_RECORD(path, note, others)
    bool operator==(const Named&) const = default;
};

TEST(JsonText, EveryByteAloneRoundTrips) {
    for (int value = 0; value < 256; ++value) {
        const std::string one = bytes({value});
        EXPECT_EQ(fromJsonText(toJsonText(one)), one) << value;
        EXPECT_TRUE(isValidUtf8(toJsonText(one))) << value;
        EXPECT_EQ(throughJsonText(one), one) << value;
    }
}

TEST(JsonText, EveryPairOfBytesRoundTrips) {
    for (int first = 0; first < 256; ++first)
        for (int second = 0; second < 256; ++second) {
            const std::string pair = bytes({first, second});
            const std::string text = toJsonText(pair);
            ASSERT_TRUE(isValidUtf8(text)) << first << " " << second;
            ASSERT_EQ(fromJsonText(text), pair) << first << " " << second;
        }
}

TEST(JsonText, RandomByteStringsRoundTripThroughJsonText) {
    std::mt19937 random(15); // fixed: the same strings on every run
    std::uniform_int_distribution<int> length(0, 24), byte(0, 255), pick(0, 3);
    // Runs of well-formed multi-byte characters and reserved code points mixed with bare bytes.
    const std::vector<std::string> pieces{"\xc3\xa9", "\xe6\x9d\xb1", "\xf0\x9f\x99\x82", "\xf4\x8f\xbf\xbf",
                                          "\xf4\x8f\xbe\x80", "\xf4\x8f\xbd\xbf", "\xed\xa0\x80", "\xc0\xaf"};
    std::uniform_int_distribution<std::size_t> piece(0, pieces.size() - 1);
    for (int run = 0; run < 20000; ++run) {
        std::string value;
        for (int i = length(random); i > 0; --i)
            value += pick(random) == 0 ? pieces[piece(random)] : std::string(1, static_cast<char>(byte(random)));
        ASSERT_EQ(throughJsonText(value), value) << displayable(value);
    }
}

TEST(JsonText, ValidTextIsWrittenUnchanged) {
    for (const std::string& text : {std::string(), std::string("IMG_0101.jpg"), std::string("Caf\xc3\xa9 \xe6\x9d\xb1\xe4\xba\xac \xf0\x9f\x99\x82.jpg"),
                                   std::string("line\nbreak \x1b[31m red\x7f"), std::string(1, '\0') + "nul",
                                   std::string("\xee\x80\x80 U+E000"), std::string("\xf4\x8f\xbd\xbf U+10FF7F, just below the reserved range"),
                                   std::string("\xf3\xbf\xbf\xbd U+FFFFD")}) {
        EXPECT_EQ(toJsonText(text), text) << displayable(text);
        EXPECT_EQ(fromJsonText(text), text) << displayable(text);
    }
    // So records written before the escape existed read back as they were written.
    const Json old = Json::parse(R"({"path":"/home/ann/Caf\u00e9 \ud83d\ude42.jpg","note":"\u001b[0m","others":["\u6771"]})");
    const Named named = decodeJson<Named>(old).value();
    EXPECT_EQ(named.path, "/home/ann/Caf\xc3\xa9 \xf0\x9f\x99\x82.jpg");
    EXPECT_EQ(named.note, "\x1b[0m");
    EXPECT_EQ(named.others, std::vector<std::string>{"\xe6\x9d\xb1"});
    EXPECT_EQ(encodeJson(named).dump(), old.dump());
}

TEST(JsonText, BareBytesBecomeTheirReservedCodePoints) {
    EXPECT_EQ(toJsonText(bytes({0x80})), "\xf4\x8f\xbe\x80"); // U+10FF80
    EXPECT_EQ(toJsonText(bytes({0xff})), "\xf4\x8f\xbf\xbf"); // U+10FFFF
    Json value = std::string("a") + bytes({0xe9}) + ".jpg"; // Latin-1 "é"
    EXPECT_EQ(value.dump(), "\"a\xf4\x8f\xbf\xa9.jpg\"");
    EXPECT_EQ(value.dump(-1, ' ', true), R"("a\udbff\udfe9.jpg")");
    EXPECT_EQ(Json::parse(R"("a\udbff\udfe9.jpg")").get<std::string>(), "a\xe9.jpg");
    // A cut-off character: each byte on its own.
    EXPECT_EQ(toJsonText("\xe6\x9d"), "\xf4\x8f\xbf\xa6\xf4\x8f\xbe\x9d");
}

TEST(JsonText, TheReservedRangeItselfIsEscapedByteByByte) {
    for (char32_t codePoint = 0x10ff80; codePoint <= 0x10ffff; ++codePoint) {
        const std::string character = bytes({0xf4, 0x8f, static_cast<int>(0x80 | ((codePoint >> 6) & 0x3f)),
                                             static_cast<int>(0x80 | (codePoint & 0x3f))});
        const std::string text = toJsonText(character);
        EXPECT_EQ(text.size(), 16u);
        EXPECT_NE(text, character);
        EXPECT_EQ(fromJsonText(text), character);
        EXPECT_EQ(throughJsonText("x" + character + "y"), "x" + character + "y");
    }
}

TEST(JsonText, EveryWayTextGoesInIsEscaped) {
    const std::string name = "/p/" + bytes({0xff, 0xfe}) + "\n.jpg";
    const Named named{name, name, {name, "plain"}};
    const Json record = encodeJson(named);
    EXPECT_NO_THROW((void)record.dump());
    EXPECT_EQ(decodeJson<Named>(Json::parse(record.dump())).value(), named);

    Json values = Json::array();
    values.push_back(name);
    values.emplace_back(std::string_view(name));
    values.push_back(name.c_str());
    values.push_back(Json(std::set<std::string>{name}));
    values.push_back(Json(std::pair<std::string, int>{name, 1}));
    values.push_back(Json(std::map<std::string, int>{{name, 2}}));
    const Json back = Json::parse(values.dump());
    EXPECT_EQ(back[0].get<std::string>(), name);
    EXPECT_EQ(back[1].get<std::string>(), name);
    EXPECT_EQ(back[2].get<std::string>(), name);
    EXPECT_EQ(back[3].get<std::set<std::string>>(), std::set<std::string>{name});
    EXPECT_EQ((back[4].get<std::pair<std::string, int>>()), (std::pair<std::string, int>{name, 1}));
    EXPECT_EQ((back[5].get<std::map<std::string, int>>()), (std::map<std::string, int>{{name, 2}}));
    EXPECT_EQ(back.get<std::vector<Json>>().size(), 6u);

    Json object = Json::object();
    object["name"] = name;
    EXPECT_EQ(Json::parse(object.dump()).value("name", std::string()), name);
    EXPECT_EQ(Json::parse(object.dump()).value("missing", std::string("fallback")), "fallback");
    EXPECT_TRUE(Json::parse(object.dump())["name"] == Json(name));
}

TEST(JsonText, NonTextIsStillRefusedAsText) {
    EXPECT_FALSE(decodeJson<std::string>(Json(5)).hasValue());
    EXPECT_FALSE(decodeJsonText<Named>(R"({"path":7,"others":[]})").hasValue());
    EXPECT_FALSE((decodeJsonText<std::map<std::string, int>>(R"(["a"])").hasValue()));
}

} // namespace
} // namespace vp
