#include "SourceReferences.h"

#include "engine/common/Text.h"

#include <algorithm>

namespace vp {

std::string LibraryRef::kindText() const {
    std::vector<std::string> labels;
    if (isLivePhoto) labels.emplace_back("Live Photo");
    if (hasRAWPair) labels.emplace_back("RAW + JPEG");
    if (isEdited) labels.emplace_back("Edited");
    return joined(labels, " \u00b7 ");
}

static std::string counted(int count, const std::string& one, const std::string& before,
                           const std::string& after) {
    return count == 1 ? one : before + std::to_string(count) + after;
}

bool LightroomRef::workedOn() const {
    return isEdited || pick > 0 || rating > 0 || virtualCopies > 0 || collections > 0 || keywords > 0 ||
           !colorLabel.empty();
}

std::string LightroomRef::workSummary() const {
    std::vector<std::string> phrases;
    if (isEdited) phrases.emplace_back("edited");
    if (virtualCopies > 0)
        phrases.push_back(counted(virtualCopies, "has a virtual copy", "has ", " virtual copies"));
    if (pick > 0) phrases.emplace_back("flagged as a pick");
    if (rating > 0) phrases.push_back(counted(rating, "1 star", "", " stars"));
    if (!colorLabel.empty()) phrases.push_back("labelled " + colorLabel);
    if (collections > 0) phrases.push_back(counted(collections, "in a collection", "in ", " collections"));
    if (keywords > 0) phrases.emplace_back(keywords == 1 ? "has a keyword" : "has keywords");
    return joined(phrases, ", ");
}

bool CaptureOneRef::isRed() const {
    return std::find(colorTags.begin(), colorTags.end(), CaptureOneCatalog::red) != colorTags.end();
}

int CaptureOneRef::colorTag() const {
    for (int tag : colorTags)
        if (tag != 0) return tag;
    return 0;
}

bool CaptureOneRef::workedOn() const {
    const bool tagged = std::any_of(colorTags.begin(), colorTags.end(), [](int tag) { return tag != 0; });
    return isEdited || variants > 1 || rating >= 1 || tagged || albums > 0 || keywords > 0;
}

std::string CaptureOneRef::workSummary() const {
    std::vector<std::string> phrases;
    if (isEdited) phrases.emplace_back("edited");
    if (variants == 2) phrases.emplace_back("has a second variant");
    else if (variants > 2) phrases.push_back("has " + std::to_string(variants) + " variants");
    if (rating > 0) phrases.push_back(counted(rating, "1 star", "", " stars"));
    if (colorTag() != 0) phrases.push_back("tagged " + CaptureOneCatalog::colorName(colorTag()));
    if (albums > 0) phrases.push_back(counted(albums, "in an album", "in ", " albums"));
    if (keywords > 0) phrases.emplace_back(keywords == 1 ? "has a keyword" : "has keywords");
    return joined(phrases, ", ");
}

std::string CaptureOneCatalog::colorName(int index) {
    switch (index) {
    case 1: return "Red";
    case 2: return "Orange";
    case 3: return "Yellow";
    case 4: return "Green";
    case 5: return "Blue";
    case 6: return "Pink";
    case 7: return "Purple";
    default: return "a colour";
    }
}

} // namespace vp
