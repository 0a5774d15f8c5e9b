// Closed eyes and smiles from the 68 landmarks, and what readings of several pictures say.
#include "FaceCheck.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>
#include <vector>

namespace vp::FaceCheck {
namespace {

double distance(const FacePoint& a, const FacePoint& b) { return std::hypot(a.x - b.x, a.y - b.y); }

FacePoint centre(const FaceShape& face, std::size_t first, std::size_t count) {
    FacePoint sum;
    for (std::size_t i = first; i < first + count; ++i) {
        sum.x += face.landmarks[i].x;
        sum.y += face.landmarks[i].y;
    }
    return {sum.x / static_cast<double>(count), sum.y / static_cast<double>(count)};
}

double eyeSpacing(const FaceShape& face) { return distance(centre(face, 36, 6), centre(face, 42, 6)); }

// The thresholds were chosen on real faces run through this code: scikit-image's astronaut
// (broad smile), the four portraits and the bearded man of OpenCV's face-recognition pages, and
// the Mona Lisa of its face-detection sample.
// - Eyes: open eyes measured 0.19 to 0.48, the two lowest (0.19 and 0.22) on a man who squints
//   into the light; all the others were above 0.25. Blinks with this landmark model are reported
//   near 0.05 to 0.15 in the blink-detection literature, and an eye of the astronaut painted over
//   with skin measured 0.07. 0.16 sits below every open eye we saw and above most closed ones.
//   Someone looking down shows mostly upper lid and reads as closed too; the explanation tells
//   the person so.
// - Smiles: how far the mouth corners rise above the middle of the lips, in eye spacings.
//   Broad smiles measured 0.075 to 0.17, neutral and closed-lip mouths -0.02 to 0.01, and the
//   Mona Lisa 0.057; 0.05 separates the two groups. Mouth width alone did not: the bearded
//   man's neutral mouth was as wide as the smiles.
constexpr double closedEyeRatio = 0.16;
constexpr double smileCornerLift = 0.05;

} // namespace

double eyeAspectRatio(const FaceShape& face, Eye eye) {
    const std::size_t first = eye == Eye::leftInPicture ? 36 : 42;
    const auto& p = face.landmarks;
    // Points go round the eye from the outer corner: first+1, first+2 on the upper lid,
    // first+4, first+5 below them on the lower lid, first+3 the other corner.
    const double width = distance(p[first], p[first + 3]);
    if (width <= 0) return 0;
    return (distance(p[first + 1], p[first + 5]) + distance(p[first + 2], p[first + 4])) / (2 * width);
}

double mouthCornerLift(const FaceShape& face) {
    const double spacing = eyeSpacing(face);
    if (spacing <= 0) return 0;
    const auto& p = face.landmarks;
    // Picture rows grow downwards: corners above the lips' middle give a positive lift.
    const double middle = (p[62].y + p[66].y) / 2;
    const double corners = (p[48].y + p[54].y) / 2;
    return (middle - corners) / spacing;
}

FaceJudgement judge(const FaceShape& face) {
    const bool closed = eyeAspectRatio(face, Eye::leftInPicture) < closedEyeRatio ||
                        eyeAspectRatio(face, Eye::rightInPicture) < closedEyeRatio;
    const bool smiling = mouthCornerLift(face) >= smileCornerLift;
    return {closed, smiling};
}

std::optional<FaceReading> readingOfFile(const std::string& path) {
    const auto image = Images::thumbnail(path, renditionSize);
    if (!image) return std::nullopt;
    return reading(*image);
}

std::optional<FaceReading> reading(const Bitmap& image) {
    const auto faces = findFaces(image);
    if (!faces) return std::nullopt;
    const double longerSide = std::max(image.width, image.height);
    FaceReading result{0, 0, 0, revision};
    for (const FaceShape& face : *faces) {
        // Smaller faces give too few pixels per eye to tell open from closed.
        if (face.width < longerSide * minFaceFraction) continue;
        const FaceJudgement judgement = judge(face);
        ++result.faces;
        if (judgement.eyeClosed) ++result.eyesClosed;
        if (judgement.smiling) ++result.smiling;
    }
    return result;
}

int compareEyes(const std::optional<FaceReading>& a, const std::optional<FaceReading>& b) {
    if (!a || !b || a->faces != b->faces || a->faces < 1 || a->eyesClosed == b->eyesClosed) return 0;
    return a->eyesClosed < b->eyesClosed ? -1 : 1;
}

int compareSmiles(const std::optional<FaceReading>& a, const std::optional<FaceReading>& b) {
    if (!a || !b || a->faces != b->faces || a->faces < 1 || a->smiling == b->smiling) return 0;
    return a->smiling > b->smiling ? -1 : 1;
}

std::map<std::string, std::string> notes(const std::map<std::string, std::optional<FaceReading>>& readings) {
    if (readings.size() < 2) return {};
    std::set<std::int64_t> faceCounts, closedCounts, smileCounts;
    for (const auto& [path, reading] : readings) {
        if (!reading) return {};
        faceCounts.insert(reading->faces);
        closedCounts.insert(reading->eyesClosed);
        smileCounts.insert(reading->smiling);
    }
    if (faceCounts.size() != 1 || *faceCounts.begin() < 1) return {};
    const bool eyesDiffer = closedCounts.size() >= 2;
    const bool smilesDiffer = smileCounts.size() >= 2;
    if (!eyesDiffer && !smilesDiffer) return {};

    std::map<std::string, std::string> result;
    for (const auto& [path, reading] : readings) {
        const std::int64_t faces = reading->faces;
        std::vector<std::string> parts;
        if (eyesDiffer) {
            if (reading->eyesClosed > 0)
                parts.push_back(faces == 1 ? "Eyes closed or looking down"
                                           : std::to_string(reading->eyesClosed) + " of " + std::to_string(faces) +
                                                 " with eyes closed or looking down");
            else
                parts.push_back(faces == 1 ? "Eyes open" : "All eyes open");
        }
        if (smilesDiffer && reading->smiling > 0)
            parts.push_back(faces == 1 ? "smiling"
                                       : std::to_string(reading->smiling) + " of " + std::to_string(faces) + " smiling");
        if (parts.empty()) continue;
        std::string note = parts[0];
        for (std::size_t i = 1; i < parts.size(); ++i) note += " \u00B7 " + parts[i];
        note[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(note[0])));
        result.emplace(path, std::move(note));
    }
    return result;
}

} // namespace vp::FaceCheck
