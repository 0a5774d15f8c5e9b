#include "TidyCommands.h"

#include "engine/cleanup/CleanupJournal.h"
#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "engine/review/KeeperPolicy.h"
#include "model/PhotoCleanupModel.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace vp::TidyCommands {

const char* const help =
    "Tidying from the terminal:\n"
    "  velmo-pristel clean [--mode exact|similar|series] [--preset conservative|balanced|broad]\n"
    "                      [--protect FOLDER]... [--priorities LIST] [--yes] [--dry-run] [--json] FOLDER...\n"
    "      Scans the folders, marks the suggested copies in every group, shows the plan and, once you\n"
    "      approve it, moves the marked copies to the Trash. LIST is comma-separated, e.g.\n"
    "      oldest,mostPixels. --dry-run stops after the plan; --json prints records for scripts.\n"
    "  velmo-pristel history [--json]\n"
    "      Lists earlier cleanups, newest first.\n"
    "  velmo-pristel put-back CLEANUP [PATH...]\n"
    "      Puts back the pictures a cleanup moved (all of them, or those named). CLEANUP is the\n"
    "      number `history` shows (1 is the newest) or the cleanup's id.\n"
    "\n"
    "Exit status: 0 done; 1 declined or interrupted; 2 command line not understood;\n"
    "3 plan or cleanup refused, or nothing put back; 4 some pictures skipped or failed.\n";

namespace {

struct Options {
    std::string command;
    Mode mode = Mode::exact;
    std::optional<SimilarityPreset> preset;
    std::vector<std::string> protectedFolders;
    std::optional<std::vector<KeeperPolicy::Priority>> priorities;
    bool yes = false;
    bool dryRun = false;
    bool json = false;
    std::vector<std::string> operands;
};

std::string bytesText(std::int64_t bytes) {
    const char* units[] = {"bytes", "KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1000 && unit < 4) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

std::optional<Options> parse(const std::vector<std::string>& arguments, std::string& problem) {
    Options options;
    options.command = arguments[1];
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= arguments.size()) return std::nullopt;
            return arguments[++i];
        };
        if (argument == "--yes") {
            options.yes = true;
        } else if (argument == "--dry-run") {
            options.dryRun = true;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--mode") {
            const auto mode = value();
            if (!mode || !enumFromRaw<Mode>(*mode)) return problem = "--mode takes exact, similar or series", std::nullopt;
            options.mode = *enumFromRaw<Mode>(*mode);
        } else if (argument == "--preset") {
            const auto preset = value();
            if (!preset || !enumFromRaw<SimilarityPreset>(*preset))
                return problem = "--preset takes conservative, balanced or broad", std::nullopt;
            options.preset = enumFromRaw<SimilarityPreset>(*preset);
        } else if (argument == "--protect") {
            const auto folder = value();
            if (!folder) return problem = "--protect takes a folder", std::nullopt;
            options.protectedFolders.push_back(*folder);
        } else if (argument == "--priorities") {
            const auto list = value();
            if (!list) return problem = "--priorities takes a comma-separated list", std::nullopt;
            options.priorities.emplace();
            for (const auto& raw : split(*list, ',')) {
                const auto priority = enumFromRaw<KeeperPolicy::Priority>(trimmed(raw));
                if (!priority) return problem = "Unknown priority: " + raw, std::nullopt;
                options.priorities->push_back(*priority);
            }
        } else if (argument.starts_with("-")) {
            return problem = "Unknown option: " + argument, std::nullopt;
        } else {
            options.operands.push_back(argument);
        }
    }
    return options;
}

/// The model with its queue, driven here as a view would drive it.
struct Session {
    MainQueue queue;
    PhotoCleanupModel model{PhotoCleanupHost{}, AppFolders::standard(PhotoCleanupHost::realHome()), queue};
    bool showProgress = ::isatty(STDERR_FILENO) != 0;

    void waitUntil(const std::function<bool()>& done) {
        while (!done()) {
            queue.waitAndDrain(std::chrono::milliseconds(50));
            if (showProgress && model.phase() == Phase::scanning) {
                const auto [step, total] = model.stepProgress();
                std::fprintf(stderr, "\r\033[K%s %s", std::string(rawValue(model.progress().stage)).c_str(),
                             total > 0 ? (std::to_string(step) + " of " + std::to_string(total)).c_str() : "");
            }
        }
        if (showProgress) std::fputs("\r\033[K", stderr);
    }
};

void printGroups(const PhotoCleanupModel& model) {
    const ReviewSession& session = *model.session();
    const auto context = session.context();
    for (const auto& group : session.groups) {
        const auto suggestion = KeeperPolicy::suggestion(group, context);
        std::printf("\n%s: %zu photos\n", std::string(rawValue(group.kind)).c_str(), group.members.size());
        for (const auto& member : group.members) {
            const char* sign = member.path == suggestion.keeperID ? "keep " : session.isMarked(member.path) ? "trash" : "     ";
            std::printf("  %s %s\n", sign, model.host().abbreviate(member.path).c_str());
        }
        std::printf("  (kept: %s)\n", suggestion.reason.c_str());
    }
}

void printPlan(const PhotoCleanupModel& model, const CleanupPlan& plan) {
    std::printf("\nPlan: %zu pictures, %s\n", plan.removals.size(), bytesText(plan.totalBytes()).c_str());
    for (const auto& volume : plan.volumes()) std::printf("  on %s: %lld\n", volume.name.c_str(), static_cast<long long>(volume.count));
    if (const auto cloud = plan.cloudSyncedCount()) std::printf("  in cloud-synchronised folders: %lld\n", static_cast<long long>(cloud));
    if (const auto external = plan.externalCount()) std::printf("  on external drives: %lld\n", static_cast<long long>(external));
    if (const auto differ = model.notIdentical(plan))
        std::printf("  not byte-identical to the copy kept: %lld\n", static_cast<long long>(differ));
}

int printReport(const CleanupReport& report, const PhotoCleanupHost& host, bool json) {
    if (json) {
        std::printf("%s\n", encodeJson(report).dump().c_str());
    } else {
        for (const auto& item : report.items) {
            const auto detail = item.outcome.detail();
            std::printf("%s: %s%s\n", std::string(item.outcome.word()).c_str(), host.abbreviate(item.removal.path).c_str(),
                        detail ? (" (" + *detail + ")").c_str() : "");
        }
        std::printf("\n%lld moved to the Trash (%s), %lld skipped, %lld failed\n", static_cast<long long>(report.moved()),
                    bytesText(report.movedBytes()).c_str(), static_cast<long long>(report.skipped()),
                    static_cast<long long>(report.failed()));
    }
    return report.skipped() + report.failed() + report.unknown() > 0 ? incomplete : done;
}

int clean(const Options& options) {
    if (options.operands.empty()) {
        std::fputs("clean needs at least one folder.\n", stderr);
        return usage;
    }
    Session session;
    PhotoCleanupModel& model = session.model;
    model.setMode(options.mode);
    if (options.preset) model.setPreset(*options.preset);
    if (options.priorities) model.setPriorities(*options.priorities);
    // The folders named here are the ones scanned: the model's list is set to them.
    while (!model.sources().empty()) model.remove(model.sources().front().path);
    std::vector<std::string> folders = options.operands;
    folders.insert(folders.end(), options.protectedFolders.begin(), options.protectedFolders.end());
    model.add(folders);
    for (const auto& folder : options.protectedFolders)
        for (const auto& source : model.sources())
            if (source.path == folder || PathRules::real(folder) == source.path) model.setProtected(source.path, true);
    if (model.notice()) std::fprintf(stderr, "%s\n", model.notice()->c_str());
    if (model.sources().empty()) return usage;
    // A lock or a protected folder may be missing from this run: nothing moves unattended.
    if (options.yes && !options.dryRun && model.missesStoredSafeguards()) {
        std::fputs("Nothing was moved: --yes needs every stored lock and protected folder. Run clean without it.\n", stderr);
        return refused;
    }

    session.waitUntil([&] { return model.phase() != Phase::scanning; });
    if (model.phase() != Phase::results) {
        std::puts("cancelled");
        return declined;
    }
    model.markSuggested();
    if (!options.json) printGroups(model);
    model.review();
    if (!model.pendingPlan()) {
        if (options.json) std::puts("null");
        std::printf("%s\n", model.notice().value_or("Nothing to do.").c_str());
        return model.session()->marks().empty() ? done : refused;
    }
    const CleanupPlan plan = *model.pendingPlan();
    if (options.json && options.dryRun) {
        std::printf("%s\n", encodeJson(plan).dump().c_str());
        return done;
    }
    if (!options.json) printPlan(model, plan);
    if (options.dryRun) return done;
    if (!options.yes) {
        std::printf("Move %zu pictures (%s) to the Trash? [y/N] ", plan.removals.size(), bytesText(plan.totalBytes()).c_str());
        std::fflush(stdout);
        std::string answer;
        if (!std::getline(std::cin, answer) || (answer != "y" && answer != "Y" && answer != "yes")) {
            std::puts("Nothing was moved.");
            return declined;
        }
    }
    model.confirmAndExecute(plan);
    session.waitUntil([&] { return model.phase() != Phase::executing; });
    if (!model.report() || model.report()->planID != plan.id) {
        std::printf("%s\n", model.notice().value_or("The cleanup did not run.").c_str());
        return refused;
    }
    const CleanupReport report = *model.report();
    session.waitUntil([&] { return model.phase() != Phase::scanning; }); // the rescan after a cleanup
    return printReport(report, model.host(), options.json);
}

int history(const Options& options) {
    Session session;
    const auto& reports = session.model.history();
    if (options.json) {
        Json list = Json::array();
        for (const auto& report : reports) list.push_back(encodeJson(report));
        std::printf("%s\n", list.dump().c_str());
        return done;
    }
    if (reports.empty()) std::puts("No cleanups yet.");
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const auto& report = reports[i];
        std::printf("%zu. %s  %lld moved, %lld skipped, %lld failed, %lld put back%s  [%s]\n", i + 1,
                    Restorer::localDateAndTime(report.started).c_str(), static_cast<long long>(report.moved()),
                    static_cast<long long>(report.skipped()), static_cast<long long>(report.failed()),
                    static_cast<long long>(report.restored()), report.reconciled ? " (interrupted, reconciled)" : "",
                    report.planID.text().c_str());
    }
    return done;
}

int putBack(const Options& options) {
    if (options.operands.empty()) {
        std::fputs("put-back needs a cleanup: its number in history, or its id.\n", stderr);
        return usage;
    }
    Session session;
    const auto& reports = session.model.history();
    const std::string& which = options.operands.front();
    const CleanupReport* report = nullptr;
    for (std::size_t i = 0; i < reports.size(); ++i)
        if (which == std::to_string(i + 1) || lowercased(reports[i].planID.text()).starts_with(lowercased(which)))
            report = &reports[i];
    if (report == nullptr) {
        std::fprintf(stderr, "No cleanup %s in the history.\n", which.c_str());
        return usage;
    }
    const CleanupReport chosen = *report;
    const std::vector<std::string> paths(options.operands.begin() + 1, options.operands.end());
    int putBack = 0, tried = 0;
    for (const auto& item : chosen.items) {
        if (item.outcome.kind != ItemOutcome::Kind::movedToTrash) continue;
        const bool named = paths.empty() || std::any_of(paths.begin(), paths.end(), [&](const std::string& path) {
                               return path == item.removal.path || PathRules::real(path) == item.removal.path;
                           });
        if (!named) continue;
        ++tried;
        const RestoreOutcome outcome = session.model.putBack(chosen, item);
        const std::string name = session.model.host().abbreviate(item.removal.path);
        switch (outcome.kind) {
        case RestoreOutcome::Kind::restored:
            ++putBack;
            std::printf("Put back: %s\n", session.model.host().abbreviate(outcome.text).c_str());
            break;
        case RestoreOutcome::Kind::occupied: std::printf("Not put back, %s is taken: %s\n", outcome.text.c_str(), name.c_str()); break;
        case RestoreOutcome::Kind::failed: std::printf("Not put back (%s): %s\n", outcome.text.c_str(), name.c_str()); break;
        case RestoreOutcome::Kind::notInTrash: std::printf("No longer in the Trash: %s\n", name.c_str()); break;
        }
    }
    if (tried == 0) std::puts("Nothing of that cleanup is in the Trash.");
    return putBack == tried && tried > 0 ? done : refused;
}

} // namespace

std::optional<int> runIfAsked(const std::vector<std::string>& arguments) {
    if (arguments.size() < 2) return std::nullopt;
    const std::string& command = arguments[1];
    if (command != "clean" && command != "history" && command != "put-back") return std::nullopt;
    std::string problem;
    const auto options = parse(arguments, problem);
    if (!options) {
        std::fprintf(stderr, "%s\n\n%s", problem.c_str(), help);
        return usage;
    }
    if (command == "clean") return clean(*options);
    if (command == "history") return history(*options);
    return putBack(*options);
}

} // namespace vp::TidyCommands
