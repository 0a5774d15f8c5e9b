#include "engine/scan/CameraNames.h"
#include "engine/scan/FolderSource.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

std::unordered_set<std::string> listOf(std::initializer_list<std::string_view> entries) {
    std::unordered_set<std::string> keys;
    for (const auto entry : entries)
        for (auto& key : CameraNames::listKeys(entry)) keys.insert(std::move(key));
    return keys;
}

// A list in the decoder's own style, so the rules are tested apart from whichever LibRaw is installed.
const auto listed = listOf({
    "Canon EOS 350D / Digital Rebel XT / Kiss Digital N",
    "Canon EOS 5D Mark IV",
    "Nikon D850",
    "Olympus E-M5 Mark II",
    "Pentax K-1",
    "Leica M (Typ 240)",
    "PhaseOne IQ4 150MP",
    "Sony ILCE-7M3 (A7 III)",
    "Sony ILCE-7R (A7R",
    "Sony SLT-A99(V)",
    "Kodak DCS760C",
});

struct Camera {
    std::string make;
    std::string model;
    bool supported;
};

class CameraNames : public ::testing::TestWithParam<Camera> {};

TEST_P(CameraNames, MatchTheDecodersList) {
    EXPECT_EQ(vp::CameraNames::isListed(listed, GetParam().make, GetParam().model), GetParam().supported)
        << GetParam().make << " / " << GetParam().model;
}

INSTANTIATE_TEST_SUITE_P(
    FolderSource, CameraNames,
    ::testing::Values(
        Camera{"Canon", "Canon EOS 5D Mark IV", true},        // the model repeats the make
        Camera{"  canon ", " eos 5d mark iv  ", true},        // case and surrounding blanks
        Camera{"NIKON CORPORATION", "NIKON D850", true},      // company words after the make
        Camera{"OLYMPUS IMAGING CORP.", "E-M5MarkII", true},  // spacing inside the model
        Camera{"RICOH IMAGING COMPANY, LTD.", "PENTAX K-1", true}, // the model names another brand
        Camera{"LEICA CAMERA AG", "LEICA M (Typ 240)", true}, // a remark in parentheses
        Camera{"Phase One A/S", "IQ4 150MP", true},
        Camera{"EASTMAN KODAK COMPANY", "KODAK DCS760C DIGITAL CAMERA", true}, // trailing "digital camera"
        Camera{"Canon", "Canon EOS DIGITAL REBEL XT", true},  // a second name after " / "
        Camera{"SONY", "ILCE-7M3", true},
        Camera{"Sony", "Alpha 7R", true},                     // "Alpha " spelling of the ILCE-7R
        Camera{"SONY", "SLT-A99V", true},                     // a variant letter run into the list name
        Camera{"Sony", "Alpha 99", true},                     // "Alpha " spelling of the SLT-A99
        Camera{"Sony", "A7 III", true},                       // the other name in parentheses
        Camera{"Sony", "ILCE-7M4", false},
        Camera{"Nikon", "D9999", false},
        Camera{"Canon", "EOS 5D Mark", false},                // a prefix of a listed name is not it
        Camera{"Leica", "Q (Typ 116)", false},
        Camera{"", "", false}));

TEST(CameraNames, TheInstalledDecodersListIsUsed) {
    EXPECT_TRUE(FolderSource::isSupportedCamera("NIKON CORPORATION", "NIKON D850"));
    EXPECT_TRUE(FolderSource::isSupportedCamera("SONY", "ILCE-7M3"));
    EXPECT_TRUE(FolderSource::isSupportedCamera("Sony", "Alpha 7"));
    EXPECT_TRUE(FolderSource::isSupportedCamera("Canon", "Canon EOS 5D Mark IV"));
    EXPECT_FALSE(FolderSource::isSupportedCamera("Velmo", "Test Camera"));
}

} // namespace
} // namespace vp
