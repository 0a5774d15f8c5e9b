// What the face check found in one picture: how many faces were big enough to judge, and how
// many of them had an eye closed or smiled.
#pragma once

#include "engine/common/Json.h"

#include <cstdint>

namespace vp {

struct FaceReading {
    std::int64_t faces = 0;      ///< faces big enough to judge
    std::int64_t eyesClosed = 0; ///< of those, faces with the left or the right eye closed
    std::int64_t smiling = 0;    ///< of those, faces that smile
    std::int64_t revision = 0;   ///< the face check's revision that made the reading

    VP_RECORD(faces, eyesClosed, smiling, revision)
    bool operator==(const FaceReading&) const = default;
};

} // namespace vp
