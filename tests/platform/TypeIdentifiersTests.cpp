#include "platform/TypeIdentifiers.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

TEST(TypeIdentifiers, Globs2PatternsAreReadByExtension) {
    const auto types = TypeIdentifiers::parseGlobs2(
        "# comment\n50:image/gif:*.gif\n50:image/x-pict:*.PCT\n10:text/plain:*.txt\n50:text/x-readme:README*\n"
        "40:image/other:*.gif\n");
    EXPECT_EQ(types.at("gif"), "image/gif"); // the first, heaviest pattern wins
    EXPECT_EQ(types.at("pct"), "image/x-pict");
    EXPECT_EQ(types.at("txt"), "text/plain");
    EXPECT_EQ(types.count("readme*"), 0u);
}

TEST(TypeIdentifiers, ImageExtensionsFromTheInstalledDatabase) {
    EXPECT_TRUE(TypeIdentifiers::isImageExtension("gif"));
    EXPECT_TRUE(TypeIdentifiers::isImageExtension("WEBP"));
    EXPECT_TRUE(TypeIdentifiers::isImageExtension("psd"));
    EXPECT_FALSE(TypeIdentifiers::isImageExtension("txt"));
    EXPECT_FALSE(TypeIdentifiers::isImageExtension("mov"));
    EXPECT_FALSE(TypeIdentifiers::isImageExtension(""));
}

TEST(TypeIdentifiers, RawIdentifiers) {
    EXPECT_EQ(TypeIdentifiers::forExtension("NEF"), "com.nikon.raw-image");
    EXPECT_TRUE(TypeIdentifiers::conformsToRawImage("com.adobe.raw-image"));
    EXPECT_TRUE(TypeIdentifiers::conformsToRawImage(TypeIdentifiers::rawImage));
    EXPECT_FALSE(TypeIdentifiers::conformsToRawImage("public.jpeg"));
}

} // namespace
} // namespace vp
