#include "engine/common/Text.h"
#include "engine/scan/FolderSource.h"

#include <gtest/gtest.h>

namespace vp {
namespace {

struct RelationshipCase {
    const char* file;
    std::vector<const char*> folder; // other names in the same folder, lower case
    std::vector<Relationship> expected;
};

void PrintTo(const RelationshipCase& given, std::ostream* out) { *out << given.file; }

class Relationships : public ::testing::TestWithParam<RelationshipCase> {};

TEST_P(Relationships, AreFoundFromTheNamesOfTheFolder) {
    const auto& given = GetParam();
    FolderSource::NameSet names{lowercased(given.file)};
    for (const char* name : given.folder) names.insert(name);
    EXPECT_EQ(FolderSource::relationships(std::string("/p/") + given.file, names, FolderSource::stems(names)),
              given.expected);
}

using R = Relationship;
INSTANTIATE_TEST_SUITE_P(
    Cases, Relationships,
    ::testing::Values(
        RelationshipCase{"IMG_E0001.HEIC", {"img_0001.heic"}, {R::editedOriginal}},
        RelationshipCase{"IMG_0001.HEIC", {"img_e0001.heic"}, {R::editedOriginal}},
        RelationshipCase{"IMG_0001.HEIC", {"img_0002.heic", "img_e0002.heic"}, {}},
        RelationshipCase{"DSC_1.JPG", {"dsc_1.cr2"}, {R::rawPair}},
        RelationshipCase{"DSC_1.CR2", {"dsc_1.jpg", "dsc_1.xmp"}, {R::sidecar, R::rawPair}},
        RelationshipCase{"IMG_1.HEIC", {"img_1.mov"}, {R::livePhoto}},
        RelationshipCase{"a.jpg", {"a.jpg.xmp"}, {R::sidecar}},
        RelationshipCase{"a.jpg", {"a.aae"}, {R::sidecar}},
        RelationshipCase{"a.png", {"a.cr2"}, {}},        // PNG is no RAW partner
        RelationshipCase{"a.jpg", {"a.jpeg"}, {}},       // two partners of the same side
        RelationshipCase{"img_e.jpg", {"img_.jpg"}, {R::editedOriginal}},
        RelationshipCase{"holiday.jpg", {"holiday.txt"}, {}}));

} // namespace
} // namespace vp
