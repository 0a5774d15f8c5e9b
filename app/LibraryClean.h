// `clean --library`: what the terminal's clean command does differently for a photo library.
// The copies it finds are never moved: once approved they are added to the review album (a
// Shotwell tag), where the person looks at them and deletes them in the photo manager itself.
// Scanning, the plan, the question, --dry-run and --json are the folder cleanup's own.
#pragma once

#include "engine/cleanup/CleanupPlan.h"
#include "engine/common/Json.h"
#include "engine/library/PhotoLibrary.h"
#include "engine/library/ReviewAlbum.h"
#include "engine/scan/PhotoAsset.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {
class PhotoCleanupModel;
}

namespace vp::LibraryClean {

/// The word after --library that names Shotwell's own library of this user.
inline constexpr std::string_view shotwellWord = "shotwell";

/// The photo.db that `given` names: Shotwell's default one for "shotwell" (or nothing given),
/// else the file at that path, or the photo.db inside a folder given.
std::string databaseFor(const std::optional<std::string>& given);

/// Why the library at `database` cannot be used, naming it as given; `unchanged` ends the
/// sentence for one that can be read but not written ("tagged", "replaced"). None when it can.
std::optional<std::string> refusal(Access access, const std::string& database, std::string_view unchanged);

/// A library that is not there is a mistyped argument (status 2); one that is there but cannot be
/// used is a refusal (status 3).
inline int refusalStatus(Access access) { return access == Access::notAsked ? 2 : 3; }

/// Points the model at the library and switches to its scope; the one-line reason when it cannot
/// be scanned, naming the database as given.
std::optional<std::string> open(PhotoCleanupModel& model, const std::string& database);

/// "IMG_0001.jpg (photos-library:thumb…)": the file name a person knows, then where it is.
std::string shown(const PhotoAsset& picture);

/// "Add 2 pictures to the review album “Velmo Pristel Review”? [y/N] ".
std::string question(const CleanupPlan& plan);

/// The report's lines: each picture added or left out, then the count and where to look.
void printReport(const ReviewAlbum::Report& report, const CleanupPlan& plan);

/// The report for scripts, its date in local time with its offset.
Json reportJson(const ReviewAlbum::Report& report);

} // namespace vp::LibraryClean
