// Runs the exact scan on the given folders and prints the identical groups, one path a line,
// the way the headless report prints its groups, for timing against other duplicate finders.
//
//   exact-scan [--content-only] [--cache FILE] [--times] FOLDER...
//
// --content-only takes every file with a picture extension as readable: it times content
// matching alone, for trees whose "pictures" are random bytes that no decoder would accept.
// --cache FILE keeps what the scan read in that scan cache (ScanCache), as the application
// does in its own; a second run is then a rescan.
// --times prints the time of each stage on standard error, one "stage wall-seconds cpu-seconds"
// a line (the CPU time of the whole process while the stage ran).
#include "engine/scan/ExactMatcher.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace vp;

int main(int argc, char** argv) {
    std::vector<std::string> folders;
    bool contentOnly = false;
    bool times = false;
    std::optional<std::string> cachePath;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--content-only")
            contentOnly = true;
        else if (argument == "--times")
            times = true;
        else if (argument == "--cache" && i + 1 < argc)
            cachePath = argv[++i];
        else
            folders.push_back(argument);
    }
    ExactMatcher::PictureChecks checks;
    if (contentOnly) {
        checks.inspect = [](const std::string&, PhotoFormat) {
            return FolderSource::Inspection{FolderSource::Inspection::Outcome::readable, {}, {}};
        };
        checks.decodesFully = [](const std::string&) { return true; };
    }
    std::unique_ptr<ScanCache> cache;
    if (cachePath) cache = std::make_unique<ScanCache>(*cachePath);
    ExactMatcher::StageTimes stages;
    CancellationFlag cancel;
    const ScanResult result =
        ExactMatcher::scan(folders, false, std::nullopt, {}, cancel, nullptr, checks, {}, {cache.get(), &stages});
    for (const auto& group : result.groups) {
        std::printf("\nidentical: %zu photos\n", group.members.size());
        for (const auto& member : group.members) std::printf("  %s\n", member.path.c_str());
    }
    std::printf("\n%lld pictures compared, %zu identical groups\n", static_cast<long long>(result.examined),
                result.groups.size());
    if (times) {
        const std::pair<const char*, ExactMatcher::StageTime> rows[] = {
            {"walk", stages.walk},       {"inspect", stages.inspect},         {"size", stages.size},
            {"prefix-digest", stages.prefixDigest}, {"full-digest", stages.fullDigest}, {"confirm", stages.confirm},
            {"decode", stages.decode},   {"finish", stages.finish}};
        for (const auto& [name, time] : rows) std::fprintf(stderr, "%s %.3f %.3f\n", name, time.wall, time.cpu);
    }
    return 0;
}
