// Runs the exact scan on the given folders and prints the identical groups, one path a line,
// the way the headless report prints its groups, for timing against other duplicate finders.
//
//   exact-scan [--content-only] FOLDER...
//
// --content-only takes every file with a picture extension as readable: it times content
// matching alone, for trees whose "pictures" are random bytes that no decoder would accept.
#include "engine/scan/ExactMatcher.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace vp;

int main(int argc, char** argv) {
    std::vector<std::string> folders;
    bool contentOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--content-only")
            contentOnly = true;
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
    CancellationFlag cancel;
    const ScanResult result = ExactMatcher::scan(folders, false, std::nullopt, {}, cancel, nullptr, checks);
    for (const auto& group : result.groups) {
        std::printf("\nidentical: %zu photos\n", group.members.size());
        for (const auto& member : group.members) std::printf("  %s\n", member.path.c_str());
    }
    std::printf("\n%lld pictures compared, %zu identical groups\n", static_cast<long long>(result.examined),
                result.groups.size());
    return 0;
}
