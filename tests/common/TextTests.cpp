// What a terminal is shown of a name: one line, no control sequences, the bytes recoverable.
#include "engine/common/Text.h"

#include <gtest/gtest.h>

#include <random>

namespace vp {
namespace {

TEST(Displayable, PlainNamesAreShownAsTheyAre) {
    for (const std::string name : {"IMG_0101.jpg", "~/Pictures/Caf\xc3\xa9 \xe6\x9d\xb1\xe4\xba\xac \xf0\x9f\x99\x82.jpg",
                                   "a b (1).jpg", "\xf4\x8f\xbf\xbf private use"})
        EXPECT_EQ(displayable(name), name);
}

TEST(Displayable, ControlCharactersAndBareBytesAreEscaped) {
    EXPECT_EQ(displayable("two\nlines.jpg"), "two\\nlines.jpg");
    EXPECT_EQ(displayable("\x1b[31mred\x1b[0m.jpg"), "\\x1b[31mred\\x1b[0m.jpg");
    EXPECT_EQ(displayable("tab\there\rcr\x7f"), "tab\\there\\rcr\\x7f");
    EXPECT_EQ(displayable(std::string("nul\0", 4)), "nul\\x00");
    EXPECT_EQ(displayable("latin1 caf\xe9.jpg"), "latin1 caf\\xe9.jpg");
    EXPECT_EQ(displayable("\xe6\x9d"), "\\xe6\\x9d");                 // cut off
    EXPECT_EQ(displayable("\xc0\xaf"), "\\xc0\\xaf");                 // overlong "/"
    EXPECT_EQ(displayable("\xed\xa0\x80"), "\\xed\\xa0\\x80");        // a surrogate
    EXPECT_EQ(displayable("\xc2\x9b" "31m"), "\\u009b31m");           // C1 CSI
    EXPECT_EQ(displayable("gpj.\xe2\x80\xae" "exe"), "gpj.\\u202eexe");  // right-to-left override
    EXPECT_EQ(displayable("a\xe2\x80\xa8z"), "a\\u2028z");            // line separator
    EXPECT_EQ(displayable("back\\slash"), "back\\\\slash");
    for (int value = 0; value < 256; ++value) {
        const std::string shown = displayable(std::string(1, static_cast<char>(value)));
        for (const char c : shown) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << value;
    }
}

TEST(Displayable, TheBytesCanBeReadBackFromWhatIsShown) {
    for (int value = 0; value < 256; ++value) {
        const std::string one(1, static_cast<char>(value));
        EXPECT_EQ(fromDisplayable(displayable(one)), one) << value;
    }
    std::mt19937 random(15);
    std::uniform_int_distribution<int> length(0, 16), byte(0, 255);
    const std::vector<std::string> pieces{"\xc2\x85", "\xe2\x80\xae", "\xe6\x9d\xb1", "\\x41", "\\"};
    std::uniform_int_distribution<std::size_t> piece(0, pieces.size() * 3);
    for (int run = 0; run < 20000; ++run) {
        std::string value;
        for (int i = length(random); i > 0; --i) {
            const std::size_t chosen = piece(random);
            value += chosen < pieces.size() ? pieces[chosen] : std::string(1, static_cast<char>(byte(random)));
        }
        ASSERT_EQ(fromDisplayable(displayable(value)), value) << displayable(value);
    }
    EXPECT_FALSE(fromDisplayable("\\"));
    EXPECT_FALSE(fromDisplayable("\\q"));
    EXPECT_FALSE(fromDisplayable("\\x4"));
    EXPECT_FALSE(fromDisplayable("\\x41")); // "A" is shown as "A"
    EXPECT_FALSE(fromDisplayable("\\xE9")); // hex digits are lower case
    EXPECT_FALSE(fromDisplayable("\\u0041"));
    EXPECT_EQ(fromDisplayable("plain"), "plain");
}

TEST(Utf8, WellFormedSequencesOnly) {
    EXPECT_TRUE(isValidUtf8("Caf\xc3\xa9 \xf0\x9f\x99\x82 \xf4\x8f\xbf\xbf"));
    EXPECT_FALSE(isValidUtf8("\x80"));
    EXPECT_FALSE(isValidUtf8("\xc1\xbf"));         // overlong
    EXPECT_FALSE(isValidUtf8("\xe0\x80\xaf"));     // overlong
    EXPECT_FALSE(isValidUtf8("\xed\xbf\xbf"));     // surrogate
    EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xf0\x9f\x99"));     // cut off
}

} // namespace
} // namespace vp
