// The face check: counts faces big enough to judge, closed eyes and smiles, and turns readings
// of look-alike pictures into verdicts and short notes. Slower than measuring, so it runs only on
// pictures that are already in a group.
#pragma once

#include "FaceLandmarks.h"
#include "FaceReading.h"

#include "platform/image/Images.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vp::FaceCheck {

/// Longest side of the rendition handed to the face detector.
inline constexpr int renditionSize = 1600;
/// A face counts only if its width is at least this fraction of the rendition's longer side.
inline constexpr double minFaceFraction = 0.05;
/// Stored in FaceReading::revision.
inline constexpr std::int64_t revision = 1;

/// Told to the person next to the face notes.
inline constexpr std::string_view explanation =
    "From dlib's face detector, run on this computer. It counts open and closed eyes and smiles in faces big "
    "enough to judge, and keeps nothing about who anyone is. Someone looking down can read as eyes closed.";

/// Reads the picture at `path` at 1600 pixels; nothing when it cannot be opened or the detector
/// cannot be loaded. Safe from several threads at once.
std::optional<FaceReading> readingOfFile(const std::string& path);
/// Reads a picture the caller has already decoded.
std::optional<FaceReading> reading(const Bitmap& image);

/// Which eye, as seen in the picture.
enum class Eye { leftInPicture, rightInPicture };

/// Eye aspect ratio: the eye's two lid-to-lid heights over twice its corner-to-corner width.
/// About 0.3 for an open eye, towards 0 as the lids close.
double eyeAspectRatio(const FaceShape& face, Eye eye);
/// How far the mouth corners sit above the middle of the lips, over the distance between the eye
/// centres: a smile pulls the corners up.
double mouthCornerLift(const FaceShape& face);

struct FaceJudgement {
    bool eyeClosed = false; ///< the left or the right eye
    bool smiling = false;
    bool operator==(const FaceJudgement&) const = default;
};

FaceJudgement judge(const FaceShape& face);

/// −1 when a has fewer closed eyes, +1 when b has, 0 when there is no verdict (a reading is
/// missing, the face counts differ or are 0, or the counts of closed eyes are equal).
int compareEyes(const std::optional<FaceReading>& a, const std::optional<FaceReading>& b);
/// −1 when a has more smiles, +1 when b has, 0 when there is no verdict.
int compareSmiles(const std::optional<FaceReading>& a, const std::optional<FaceReading>& b);

/// A short note per picture ("Eyes open · smiling") when the readings are comparable: all there,
/// at least two, the same number of faces (at least one), and different in closed eyes or in
/// smiles. Pictures with nothing to say are left out.
std::map<std::string, std::string> notes(const std::map<std::string, std::optional<FaceReading>>& readings);

} // namespace vp::FaceCheck
