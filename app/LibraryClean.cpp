#include "LibraryClean.h"

#include "CommandLine.h"
#include "engine/common/Text.h"
#include "engine/library/LibrarySource.h"
#include "engine/library/ShotwellLibrary.h"
#include "model/PhotoCleanupModel.h"

#include <cstdio>
#include <sys/stat.h>

namespace vp::LibraryClean {

std::string databaseFor(const std::optional<std::string>& given) {
    if (!given || *given == shotwellWord) return ShotwellLibrary::defaultDatabase();
    const std::string path = CommandLine::absolutePath(*given);
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return path + "/photo.db";
    return path;
}

std::optional<std::string> refusal(Access access, const std::string& database, std::string_view unchanged) {
    switch (access) {
    case Access::granted: {
        const auto problem = ShotwellLibrary::problem(database);
        return problem ? std::optional(displayable(*problem)) : std::nullopt;
    }
    case Access::notAsked: return "No Shotwell library at " + displayable(database) + ".";
    case Access::denied: return "The Shotwell library at " + displayable(database) + " cannot be read.";
    case Access::restricted:
        return "The Shotwell library at " + displayable(database) + " can be read but not changed, so nothing could be " +
               std::string(unchanged) + ".";
    }
    return std::nullopt;
}

std::optional<std::string> open(PhotoCleanupModel& model, const std::string& database) {
    model.useShotwellLibrary(database);
    model.setScope(Scope::photosLibrary);
    return refusal(model.libraryAccess(), database, "tagged");
}

std::string shown(const PhotoAsset& picture) { return displayable(picture.name()) + " (" + displayable(picture.path) + ")"; }

std::string question(const CleanupPlan& plan) {
    return "Add " + CommandLine::pictures(plan.removals.size()) + " to the review album \u201c" +
           std::string(ReviewAlbum::name) + "\u201d? [y/N] ";
}

void printReport(const ReviewAlbum::Report& report, const CleanupPlan& plan) {
    for (const auto& removal : plan.removals) {
        const auto id = LibrarySource::id(removal.path).value_or(removal.path);
        if (std::find(report.added.begin(), report.added.end(), id) != report.added.end())
            std::printf("added: %s (%s)\n", displayable(removal.name()).c_str(), displayable(removal.path).c_str());
    }
    for (const auto& skip : report.skipped)
        std::printf("skipped: %s (%s)\n", displayable(skip.name).c_str(), displayable(skip.reason).c_str());
    std::printf("\n%zu added to the review album \u201c%s\u201d, %zu skipped. Nothing was deleted: look at them in "
                "Shotwell under that tag and delete them there.\n",
                report.added.size(), displayable(report.album).c_str(), report.skipped.size());
}

Json reportJson(const ReviewAlbum::Report& report) {
    Json json = encodeJson(report);
    json["finished"] = CommandLine::localTimestamp(report.finished);
    return json;
}

} // namespace vp::LibraryClean
