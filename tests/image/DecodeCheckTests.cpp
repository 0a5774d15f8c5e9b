// The full-decode check was made faster (HEIC through FFmpeg without colour conversion and
// in-loop filters, each coded stream decoded once); it must refuse exactly what the libvips check
// refuses. A corpus of real pictures, cut at many places and damaged in their coded data, is
// judged by both.
#include "platform/image/Decoders.h"
#include "platform/image/Images.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <vips/vips8>

namespace vp {
namespace {

using testing::TempDir;

/// A photo-like picture: blurred noise in three bands (four with `alpha`), which codes to dense
/// entropy data as a photo's fine detail does (a flat test card would code to a few hundred bytes).
void writeNoisyPicture(const std::string& path, int width, int height, const char* options = "", bool alpha = false) {
    ASSERT_EQ(VIPS_INIT("decode-check-tests"), 0);
    using vips::VImage;
    std::vector<VImage> bands;
    for (int band = 0; band < (alpha ? 4 : 3); ++band)
        bands.push_back(VImage::gaussnoise(width, height,
                                           VImage::option()->set("mean", 100 + 20 * band)->set("sigma", 60)->set("seed", band))
                            .gaussblur(1.5));
    VImage picture = VImage::bandjoin(bands).cast(VIPS_FORMAT_UCHAR);
    picture = picture.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    picture.write_to_file((path + options).c_str());
}

struct Corpus {
    std::string name;
    const char* options;
    int width;
    int height;
    bool alpha = false;
};

class DamagedPictures : public ::testing::TestWithParam<Corpus> {};

TEST_P(DamagedPictures, AreRefusedExactlyAsTheLibvipsCheckRefusesThem) {
    TempDir dir;
    const Corpus& corpus = GetParam();
    const std::string original = dir / corpus.name;
    writeNoisyPicture(original, corpus.width, corpus.height, corpus.options, corpus.alpha);
    const std::string bytes = testing::readFile(original);
    ASSERT_GT(bytes.size(), 4096u);
    ASSERT_TRUE(Images::decodesFully(original));
    ASSERT_TRUE(Images::decodesFullyThroughVips(original));

    std::vector<std::pair<std::string, std::string>> variants; // (what was done, content)
    for (const int eighth : {1, 2, 3, 4, 5, 6, 7})
        variants.emplace_back("cut at " + std::to_string(eighth) + "/8", bytes.substr(0, bytes.size() * eighth / 8));
    for (const std::size_t fromEnd : {1, 2, 16, 100, 1000})
        variants.emplace_back("cut " + std::to_string(fromEnd) + " bytes early", bytes.substr(0, bytes.size() - fromEnd));
    for (const int percent : {30, 45, 60, 75, 90}) {
        const std::size_t at = bytes.size() * static_cast<std::size_t>(percent) / 100;
        std::string flipped = bytes;
        flipped[at] = static_cast<char>(flipped[at] ^ 0xFF);
        variants.emplace_back("byte flipped at " + std::to_string(percent) + "%", flipped);
        std::string zeroed = bytes;
        std::fill(zeroed.begin() + static_cast<std::ptrdiff_t>(at), zeroed.begin() + static_cast<std::ptrdiff_t>(at) + 256, '\0');
        variants.emplace_back("256 bytes zeroed at " + std::to_string(percent) + "%", zeroed);
        std::string spliced = bytes;
        spliced.erase(at, 512);
        variants.emplace_back("512 bytes taken out at " + std::to_string(percent) + "%", spliced);
    }

    int refused = 0;
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const std::string path = dir / ("variant" + std::to_string(i) + "." + corpus.name.substr(corpus.name.rfind('.') + 1));
        testing::writeFile(path, variants[i].second);
        const bool before = Images::decodesFullyThroughVips(path);
        EXPECT_EQ(Images::decodesFully(path), before) << corpus.name << ", " << variants[i].first;
        refused += before ? 0 : 1;
    }
    // Every cut picture is among the refused ones: a check that refused nothing proves nothing.
    EXPECT_GE(refused, 7) << corpus.name;
}

INSTANTIATE_TEST_SUITE_P(DecodeCheck, DamagedPictures,
                         ::testing::Values(Corpus{"photo.heic", "[Q=70]", 640, 480},
                                           Corpus{"portrait.heic", "[Q=90]", 360, 500},
                                           Corpus{"chroma444.heic", "[Q=80,subsample_mode=off]", 320, 240},
                                           Corpus{"deep.heic", "[Q=80,bitdepth=10]", 320, 240},
                                           Corpus{"alpha.heic", "[Q=80]", 320, 240, true},
                                           // libheif stores a picture of odd size as a grid of tiles
                                           Corpus{"grid.heic", "[Q=75]", 311, 201},
                                           Corpus{"photo.jpg", "[Q=90]", 640, 480},
                                           Corpus{"progressive.jpg", "[Q=85,interlace]", 480, 360},
                                           Corpus{"screen.png", "[compression=6]", 400, 300},
                                           Corpus{"scan.tif", "[compression=deflate]", 400, 300},
                                           Corpus{"plain.tif", "", 200, 150}),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

// Cut files are refused by the new check whatever the format (the old check did).
TEST(DecodeCheck, ACutHeicIsRefused) {
    TempDir dir;
    const std::string path = dir / "cut.heic";
    writeNoisyPicture(path, 512, 384, "[Q=60]");
    const std::string bytes = testing::readFile(path);
    testing::writeFile(path, bytes.substr(0, bytes.size() - bytes.size() / 3));
    EXPECT_FALSE(Images::decodesFully(path));
}

// The fast check decides plain pictures itself (a decoder plugin libheif never picks would
// leave every picture to libvips, silently slow) and leaves the others to libvips.
TEST(DecodeCheck, TheHeicCheckDecidesPlainPicturesAndLeavesTheRestToLibvips) {
    TempDir dir;
    using ImageDecoders::HeifCheck;
    writeNoisyPicture(dir / "plain.heic", 320, 240, "[Q=80]");
    writeNoisyPicture(dir / "chroma444.heic", 320, 240, "[Q=80,subsample_mode=off]");
    writeNoisyPicture(dir / "deep.heic", 320, 240, "[Q=80,bitdepth=10]");
    writeNoisyPicture(dir / "alpha.heic", 320, 240, "[Q=80]", true);
    writeNoisyPicture(dir / "grid.heic", 311, 201, "[Q=80]");
    EXPECT_EQ(ImageDecoders::heifDecodesFully(dir / "plain.heic"), HeifCheck::complete);
    EXPECT_EQ(ImageDecoders::heifDecodesFully(dir / "grid.heic"), HeifCheck::complete);
    for (const char* name : {"chroma444.heic", "deep.heic", "alpha.heic"})
        EXPECT_EQ(ImageDecoders::heifDecodesFully(dir / name), HeifCheck::unsure) << name;
    for (const char* name : {"plain.heic", "grid.heic", "chroma444.heic", "deep.heic", "alpha.heic"})
        EXPECT_TRUE(Images::decodesFully(dir / name)) << name;
}

/// The offset of the first box of this type, whatever its depth.
std::size_t boxAt(const std::string& bytes, const char* type) {
    const std::size_t at = bytes.find(type);
    return at == std::string::npos ? at : at - 4;
}

// A coded stream decoded once is not decoded again, but each file's container is still read: the
// same stream behind other metadata decodes, behind a broken or cut container it does not.
TEST(DecodeCheck, AStreamDecodedBeforeStillNeedsItsOwnFileToBeWhole) {
    TempDir dir;
    const std::string original = dir / "original.heic";
    writeNoisyPicture(original, 480, 360, "[Q=75]");
    ASSERT_TRUE(Images::decodesFully(original));
    const std::string bytes = testing::readFile(original);

    const std::string retagged = dir / "retagged.heic";
    testing::writeFile(retagged, bytes + std::string("\0\0\0\x10" "free" "edited!!", 16));
    EXPECT_TRUE(Images::decodesFully(retagged));

    // The size property claims twice the width the stream decodes to.
    std::string resized = bytes;
    const std::size_t ispe = boxAt(resized, "ispe");
    ASSERT_NE(ispe, std::string::npos);
    resized[ispe + 14] = static_cast<char>(resized[ispe + 14] + 1);
    testing::writeFile(dir / "resized.heic", resized);
    EXPECT_EQ(Images::decodesFully(dir / "resized.heic"), Images::decodesFullyThroughVips(dir / "resized.heic"));

    // The item's extent reaches past the end of the file: the stream is the same up to the cut.
    testing::writeFile(dir / "cut.heic", bytes.substr(0, bytes.size() - 1));
    EXPECT_FALSE(Images::decodesFullyThroughVips(dir / "cut.heic"));
    EXPECT_FALSE(Images::decodesFully(dir / "cut.heic"));
}

} // namespace
} // namespace vp
