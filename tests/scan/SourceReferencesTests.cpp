#include "engine/scan/SourceReferences.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

TEST(LibraryRef, KindTextListsTheSetFlagsInOrder) {
    LibraryRef ref{"id", "IMG_1.HEIC", false, false, false, true};
    EXPECT_EQ(ref.kindText(), "Edited");
    ref.isLivePhoto = ref.hasRAWPair = true;
    EXPECT_EQ(ref.kindText(), "Live Photo \u00b7 RAW + JPEG \u00b7 Edited");
    EXPECT_EQ(LibraryRef{}.kindText(), "");
}

TEST(LightroomRef, WorkedOnAndSummary) {
    LightroomRef labelled;
    labelled.colorLabel = "Red";
    EXPECT_TRUE(labelled.workedOn());
    EXPECT_EQ(labelled.workSummary(), "labelled Red");

    LightroomRef rejected;
    rejected.pick = -1;
    EXPECT_FALSE(rejected.workedOn());

    LightroomRef busy{1, 1, 3, true, 2, 1, 4, "", {}};
    EXPECT_EQ(busy.workSummary(),
              "edited, has 2 virtual copies, flagged as a pick, 3 stars, in a collection, has keywords");
    busy = LightroomRef{1, 0, 1, false, 1, 2, 1, "", {}};
    EXPECT_EQ(busy.workSummary(), "has a virtual copy, 1 star, in 2 collections, has a keyword");
}

TEST(CaptureOneRef, VariantsTagsAndSummary) {
    CaptureOneRef twoVariants;
    twoVariants.variants = 2;
    EXPECT_TRUE(twoVariants.workedOn());
    EXPECT_EQ(twoVariants.workSummary(), "has a second variant");

    CaptureOneRef tagged;
    tagged.variants = 1;
    tagged.colorTags = {0, 1};
    EXPECT_TRUE(tagged.isRed());
    EXPECT_EQ(tagged.colorTag(), 1);
    EXPECT_EQ(tagged.workSummary(), "tagged Red");

    CaptureOneRef plain;
    plain.variants = 1;
    plain.colorTags = {0};
    EXPECT_FALSE(plain.workedOn());
    EXPECT_EQ(CaptureOneCatalog::colorName(9), "a colour");

    CaptureOneRef many{1, 2, 3, 2, {5}, true, 3, 1};
    EXPECT_EQ(many.workSummary(), "edited, has 3 variants, 2 stars, tagged Blue, in 3 albums, has a keyword");
}

TEST(SourceReferences, EveryKeyIsRequired) {
    Json json = encodeJson(CaptureOneRef{});
    EXPECT_TRUE(decodeJson<CaptureOneRef>(json).hasValue());
    json.erase("keywords");
    EXPECT_FALSE(decodeJson<CaptureOneRef>(json).hasValue());
}

} // namespace
} // namespace vp
