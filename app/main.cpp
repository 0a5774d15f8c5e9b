// velmo-pristel: for now, prints what a walk of the given folders finds.
#include "engine/scan/FolderSource.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

using namespace vp;

int main(int argc, char** argv) {
    std::vector<std::string> folders(argv + 1, argv + argc);
    const PreparedRoots prepared = FolderSource::prepare(folders);
    CancellationFlag cancel;
    const auto walk = FolderSource::walk(prepared.roots, std::nullopt, {}, cancel, nullptr);

    std::printf("%zu folders scanned\n", prepared.roots.size());
    std::printf("%lld pictures found\n", static_cast<long long>(walk.discovered));
    std::printf("%lld other files\n", static_cast<long long>(walk.otherFiles));
    std::printf("%lld extra names of the same file (hard links)\n", static_cast<long long>(walk.hardLinksFolded));
    std::map<SkipReason, int> skipped;
    for (const auto& file : walk.skipped) ++skipped[file.reason];
    for (const auto reason : allCases<SkipReason>())
        if (skipped[reason] > 0) std::printf("skipped, %s: %d\n", std::string(title(reason)).c_str(), skipped[reason]);
    std::map<ExcludedItem::Kind, int> excluded;
    for (const auto& item : prepared.refused) ++excluded[item.kind];
    for (const auto& item : walk.excluded) ++excluded[item.kind];
    for (const auto kind : allCases<ExcludedItem::Kind>())
        if (excluded[kind] > 0) std::printf("%s: %d\n", std::string(heading(kind)).c_str(), excluded[kind]);
    return 0;
}
