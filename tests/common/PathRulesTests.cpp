#include "engine/common/PathRules.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace vp {
namespace {

struct Standardizing {
    const char* given;
    const char* expected;
};

void PrintTo(const Standardizing& given, std::ostream* out) { *out << given.given; }

class PathRulesStandardized : public ::testing::TestWithParam<Standardizing> {};

TEST_P(PathRulesStandardized, GivesTheLexicalNormalForm) {
    EXPECT_EQ(PathRules::standardized(GetParam().given), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, PathRulesStandardized,
                         ::testing::Values(Standardizing{"/a/b/", "/a/b"}, Standardizing{"/a//./b", "/a/b"},
                                           Standardizing{"/a/b/../c", "/a/c"}, Standardizing{"/../a", "/a"},
                                           Standardizing{"/", "/"}, Standardizing{"a/b", "/a/b"}));

TEST(PathRules, InsideMeansEqualOrBelowAFolderBoundary) {
    EXPECT_TRUE(PathRules::isInside("/a/b", "/a/b"));
    EXPECT_TRUE(PathRules::isInside("/a/b/c.jpg", "/a/b"));
    EXPECT_FALSE(PathRules::isInside("/a/bc", "/a/b"));
    EXPECT_FALSE(PathRules::isInside("/a", "/a/b"));
    EXPECT_TRUE(PathRules::isInside("/anything", "/"));
}

TEST(PathRules, ParentWithALinkAboveItIsNoticed) {
    testing::TempDir dir;
    dir.write("real/photo.jpg", "x");
    ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
    const std::string base = *PathRules::real(dir.path());
    EXPECT_TRUE(PathRules::parentHasNoLinks(base + "/real/photo.jpg"));
    EXPECT_FALSE(PathRules::parentHasNoLinks(base + "/link/photo.jpg"));
    EXPECT_FALSE(PathRules::real(base + "/missing"));
}

} // namespace
} // namespace vp
