#include "TidyCommands.h"

#include "engine/cleanup/CleanupJournal.h"
#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "engine/review/KeeperPolicy.h"
#include "engine/scan/FolderSource.h"
#include "model/PhotoCleanupModel.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vp::TidyCommands {

const char* const help =
    "Tidying from the terminal:\n"
    "  velmo-pristel clean [--mode exact|similar|series] [--preset conservative|balanced|broad]\n"
    "                      [--protect FOLDER]... [--priorities LIST] [--yes] [--dry-run] [--json] FOLDER...\n"
    "      Scans the folders, marks the suggested copies in every group, shows the plan and, once you\n"
    "      approve it, moves the marked copies to the Trash. LIST is comma-separated, e.g.\n"
    "      oldest,mostPixels. --dry-run stops after the plan; --json prints records for scripts.\n"
    "      Folders protected in your settings stay protected; the options here hold for this run\n"
    "      only and never change your settings. Ctrl-C while pictures move finishes the picture\n"
    "      being moved and leaves the rest where they are.\n"
    "  velmo-pristel history [--json]\n"
    "      Lists earlier cleanups, newest first.\n"
    "  velmo-pristel put-back CLEANUP [PATH...]\n"
    "      Puts back the pictures a cleanup moved (all of them, or those named). CLEANUP is the\n"
    "      number `history` shows (1 is the newest) or the first 8 or more characters of its id.\n"
    "\n"
    "Names that are not UTF-8 or hold control characters are shown escaped (\\xNN, \\n, \\uNNNN,\n"
    "\\\\); a PATH may be given either way. In --json output, see README.md for how names are kept.\n"
    "\n"
    "Exit status: 0 done; 1 declined or interrupted; 2 command line not understood, or a folder or\n"
    "cleanup it names is not there; 3 plan or cleanup refused, or nothing put back; 4 some pictures\n"
    "skipped or failed.\n";

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

/// "1 picture", "2 pictures".
std::string pictures(std::size_t count) { return std::to_string(count) + (count == 1 ? " picture" : " pictures"); }

/// JSON for scripts, in ASCII alone: no byte of it can act on a terminal it is printed to.
std::string jsonText(const Json& json) { return json.dump(-1, ' ', true); }

/// At most about 40 bytes of a displayable text, cut between characters, for a progress line
/// that must not wrap.
std::string shortened(const std::string& text) {
    constexpr std::size_t longest = 40;
    if (text.size() <= longest) return text;
    std::size_t cut = longest;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) --cut; // not inside a character
    return text.substr(0, cut) + "\u2026";
}

/// An argument exactly as it was given, escaped; an empty one is said to be empty.
std::string asGiven(const std::string& argument) {
    return argument.empty() ? std::string("\"\" (an empty argument)") : displayable(argument);
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
                if (!priority) return problem = "Unknown priority: " + displayable(raw), std::nullopt;
                options.priorities->push_back(*priority);
            }
        } else if (argument == "--") {
            options.operands.insert(options.operands.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                    arguments.end());
            break;
        } else if (argument.starts_with("-")) {
            return problem = "Unknown option: " + displayable(argument), std::nullopt;
        } else {
            options.operands.push_back(argument);
        }
    }
    return options;
}

// ---- Ctrl-C and termination
//
// SIGINT and SIGTERM are blocked in every thread and taken by one thread of their own (sigwait),
// so they never stop the process in the middle of writing a journal line. What a signal does
// depends on what the command is doing:
//  - cooperating (a scan, a cleanup, putting back): the request is noted and the main thread
//    acts on it at the next safe point: a scan is cancelled, a cleanup stops after the picture it
//    is on. A second signal ends the process at once, as the signal would (the journal makes
//    even that safe);
//  - at the question "Move … to the Trash?": nothing has moved, so the process ends with
//    "Nothing was moved." and status 1;
//  - anything else (reading the journals at start-up): the process ends as the signal would.
class Interrupts {
public:
    enum class Stage { immediate, cooperating, asking };

    /// Blocks the signals in the calling thread (and so in every thread it starts later) and
    /// starts the thread that takes them. Call before any other thread is started.
    static Interrupts& take() {
        static Interrupts* interrupts = [] {
            auto* created = new Interrupts; // never destroyed: the signal thread outlives main
            sigset_t signals;
            sigemptyset(&signals);
            sigaddset(&signals, SIGINT);
            sigaddset(&signals, SIGTERM);
            pthread_sigmask(SIG_BLOCK, &signals, nullptr);
            std::thread([created, signals] { created->wait(signals); }).detach();
            return created;
        }();
        return *interrupts;
    }

    bool requested() const { return m_requested.load(); }

    /// While cooperating, a signal wakes `queue` (null: none to wake).
    void setStage(Stage stage, MainQueue* queue = nullptr) {
        std::lock_guard lock(m_mutex);
        m_stage = stage;
        m_queue = queue;
    }

private:
    void wait(sigset_t signals) {
        while (true) {
            int received = 0;
            if (sigwait(&signals, &received) != 0) continue;
            std::lock_guard lock(m_mutex);
            const bool again = m_requested.exchange(true);
            if (m_stage == Stage::asking) {
                static constexpr char line[] = "\nNothing was moved.\n";
                (void)!::write(STDOUT_FILENO, line, sizeof line - 1);
                std::_Exit(declined);
            }
            if (m_stage == Stage::immediate || again) {
                // As if the signal had not been taken at all.
                std::signal(received, SIG_DFL);
                sigset_t one;
                sigemptyset(&one);
                sigaddset(&one, received);
                pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
                ::raise(received);
                std::_Exit(128 + received);
            }
            if (m_queue != nullptr) m_queue->post([] {});
        }
    }

    std::atomic<bool> m_requested{false};
    std::mutex m_mutex; // held while the stage changes and while a signal is acted on
    Stage m_stage = Stage::immediate;
    MainQueue* m_queue = nullptr;
};

/// The model with its queue, driven here as a view would drive it. Nothing this session
/// chooses is saved.
struct Session {
    MainQueue queue;
    PhotoCleanupModel model{PhotoCleanupHost{}, AppFolders::standard(PhotoCleanupHost::realHome()), queue};
    bool showProgress = ::isatty(STDERR_FILENO) != 0;
    /// The plan being carried out, for the progress line.
    const CleanupPlan* executing = nullptr;
    bool stopping = false;

    Session() {
        model.setTransient(true);
        if (const auto count = model.recovered().size())
            std::fprintf(stderr, "%zu cleanup%s interrupted earlier %s been worked out; `history` lists %s.\n", count,
                         count == 1 ? "" : "s", count == 1 ? "has" : "have", count == 1 ? "it" : "them");
    }
    ~Session() { Interrupts::take().setStage(Interrupts::Stage::immediate); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::string shown(const std::string& path) const { return displayable(model.host().abbreviate(path)); }

    /// From now on a signal is acted on between steps (see Interrupts).
    void cooperate() { Interrupts::take().setStage(Interrupts::Stage::cooperating, &queue); }

    void waitUntil(const std::function<bool()>& done) {
        while (!done()) {
            queue.waitAndDrain(std::chrono::milliseconds(50));
            if (Interrupts::take().requested()) {
                if (model.phase() == Phase::scanning) {
                    model.invalidateResults(); // cancels the scan; nothing partial is kept
                } else if (model.phase() == Phase::executing && !stopping) {
                    stopping = true;
                    model.stopAfterThisOne();
                    if (showProgress) std::fputs("\r\033[K", stderr);
                    std::fputs("Stopping after this picture; the rest stay where they are.\n", stderr);
                }
            }
            if (showProgress) showProgressLine();
        }
        if (showProgress) std::fputs("\r\033[K", stderr);
    }

private:
    void showProgressLine() {
        if (model.phase() == Phase::scanning) {
            const auto [step, total] = model.stepProgress();
            std::fprintf(stderr, "\r\033[K%s %s", std::string(rawValue(model.progress().stage)).c_str(),
                         total > 0 ? (std::to_string(step) + " of " + std::to_string(total)).c_str() : "");
        } else if (model.phase() == Phase::executing && executing != nullptr) {
            const auto handled = static_cast<std::size_t>(model.executionProgress());
            const std::size_t count = executing->removals.size();
            std::string line = "Moving to the Trash: " + std::to_string(handled) + " of " + std::to_string(count);
            if (handled < count) line += "  " + shortened(displayable(lastPathComponent(executing->removals[handled].path)));
            std::fprintf(stderr, "\r\033[K%s", line.c_str());
        }
        std::fflush(stderr);
    }
};

void printGroups(const Session& session) {
    const PhotoCleanupModel& model = session.model;
    const ReviewSession& review = *model.session();
    const auto context = review.context();
    for (const auto& group : review.groups) {
        const auto suggestion = KeeperPolicy::suggestion(group, context);
        std::printf("\n%s: %zu photos\n", std::string(rawValue(group.kind)).c_str(), group.members.size());
        for (const auto& member : group.members) {
            const char* sign = member.path == suggestion.keeperID ? "keep " : review.isMarked(member.path) ? "trash" : "     ";
            std::printf("  %s %s\n", sign, session.shown(member.path).c_str());
        }
        std::printf("  (kept: %s)\n", displayable(suggestion.reason).c_str());
    }
}

void printPlan(const PhotoCleanupModel& model, const CleanupPlan& plan) {
    std::printf("\nPlan: %s, %s\n", pictures(plan.removals.size()).c_str(), bytesText(plan.totalBytes()).c_str());
    for (const auto& volume : plan.volumes())
        std::printf("  on %s: %lld\n", displayable(volume.name).c_str(), static_cast<long long>(volume.count));
    if (const auto cloud = plan.cloudSyncedCount()) std::printf("  in cloud-synchronised folders: %lld\n", static_cast<long long>(cloud));
    if (const auto external = plan.externalCount()) std::printf("  on external drives: %lld\n", static_cast<long long>(external));
    if (const auto differ = model.notIdentical(plan))
        std::printf("  not byte-identical to the copy kept: %lld\n", static_cast<long long>(differ));
}

int printReport(const CleanupReport& report, const Session& session, bool json) {
    if (json) {
        std::printf("%s\n", jsonText(encodeJson(report)).c_str());
    } else {
        for (const auto& item : report.items) {
            const auto detail = item.outcome.detail();
            std::printf("%s: %s%s\n", std::string(item.outcome.word()).c_str(), session.shown(item.removal.path).c_str(),
                        detail ? (" (" + displayable(*detail) + ")").c_str() : "");
        }
        std::printf("\n%lld moved to the Trash (%s), %lld skipped, %lld failed\n", static_cast<long long>(report.moved()),
                    bytesText(report.movedBytes()).c_str(), static_cast<long long>(report.skipped()),
                    static_cast<long long>(report.failed()));
    }
    return report.skipped() + report.failed() + report.unknown() > 0 ? incomplete : done;
}

void printNotice(const PhotoCleanupModel& model) {
    if (model.notice()) std::fprintf(stderr, "%s\n", displayable(*model.notice()).c_str());
}

/// Why `given` cannot be scanned as a folder, in one line naming it as given; none when it can.
/// `resolved` receives the folder's real path.
std::optional<std::string> folderRefusal(const std::string& given, std::string& resolved) {
    if (given.empty()) return "Not a folder: " + asGiven(given);
    const std::string path = absolutePath(given);
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return "No such folder: " + asGiven(given);
        return "Cannot open " + asGiven(given) + ": " + std::strerror(errno);
    }
    if (!S_ISDIR(status.st_mode)) return "Not a folder: " + asGiven(given);
    const PreparedRoots prepared = FolderSource::prepare({path});
    if (prepared.roots.empty()) {
        const std::string why = prepared.refused.empty() ? std::string("It cannot be scanned.") : prepared.refused.front().detail;
        return "Cannot scan " + asGiven(given) + ": " + displayable(why);
    }
    resolved = prepared.roots.front();
    return std::nullopt;
}

int clean(const Options& options) {
    if (options.operands.empty()) {
        std::fputs("clean needs at least one folder.\n", stderr);
        return usage;
    }
    // Every folder is checked before anything else happens: one that is not there refuses all.
    std::vector<std::string> folders, protectedFolders;
    for (const auto* list : {&options.operands, &options.protectedFolders}) {
        for (const auto& given : *list) {
            std::string resolved;
            if (const auto refusal = folderRefusal(given, resolved)) {
                std::fprintf(stderr, "%s\n", refusal->c_str());
                return usage;
            }
            (list == &options.operands ? folders : protectedFolders).push_back(resolved);
        }
    }

    Session session;
    PhotoCleanupModel& model = session.model;
    // Folders protected in the settings keep protecting: one inside a chosen folder is scanned
    // as a protected folder; a chosen folder inside one is protected as a whole.
    std::vector<std::string> storedProtected;
    for (const auto& source : model.sources())
        if (source.isProtected) storedProtected.push_back(source.path);

    model.setMode(options.mode);
    if (options.preset) model.setPreset(*options.preset);
    if (options.priorities) model.setPriorities(*options.priorities);
    // This run's folders are the ones scanned (the session is transient: nothing is saved).
    while (!model.sources().empty()) model.remove(model.sources().front().path);
    std::vector<std::string> protectNow = protectedFolders;
    std::vector<std::string> insideProtected; // chosen folders that lie in a stored protected one
    for (const auto& stored : storedProtected) {
        for (const auto& folder : folders) {
            if (PathRules::isInside(stored, folder)) protectNow.push_back(stored);
            else if (PathRules::isInside(folder, stored)) insideProtected.push_back(folder);
        }
    }
    std::vector<std::string> scanned = folders;
    scanned.insert(scanned.end(), protectNow.begin(), protectNow.end());
    session.cooperate();
    model.add(scanned);
    for (const auto& folder : protectNow) model.setProtected(folder, true);
    for (const auto& folder : insideProtected) model.setProtected(folder, true);
    printNotice(model);
    if (model.sources().empty()) return usage;
    // A lock or a protected folder may be missing from this run: nothing moves unattended.
    if (options.yes && !options.dryRun && model.missesStoredSafeguards()) {
        std::fputs("Nothing was moved: --yes needs every stored lock and protected folder. Run clean without it.\n", stderr);
        return refused;
    }
    for (const auto& source : model.sources()) {
        if (!source.isProtected) continue;
        const bool stored = std::any_of(storedProtected.begin(), storedProtected.end(), [&](const std::string& path) {
            return PathRules::isInside(source.path, path);
        });
        std::fprintf(options.json ? stderr : stdout, "Protected%s, nothing in it is moved: %s\n",
                     stored ? " in your settings" : "", session.shown(source.path).c_str());
    }

    session.waitUntil([&] { return model.phase() != Phase::scanning; });
    if (model.phase() != Phase::results || Interrupts::take().requested()) {
        std::puts("cancelled");
        return declined;
    }
    model.markSuggested();
    if (!options.json) printGroups(session);
    model.review();
    if (!model.pendingPlan()) {
        if (options.json) std::puts("null");
        std::printf("%s\n", displayable(model.notice().value_or("Nothing to do.")).c_str());
        return model.session()->marks().empty() ? done : refused;
    }
    const CleanupPlan plan = *model.pendingPlan();
    if (options.json && options.dryRun) {
        std::printf("%s\n", jsonText(encodeJson(plan)).c_str());
        return done;
    }
    if (!options.json) printPlan(model, plan);
    if (options.dryRun) return done;
    if (!options.yes) {
        std::printf("Move %s (%s) to the Trash? [y/N] ", pictures(plan.removals.size()).c_str(), bytesText(plan.totalBytes()).c_str());
        std::fflush(stdout);
        Interrupts::take().setStage(Interrupts::Stage::asking);
        // A signal taken after the scan and before the question was noted, not acted on: from
        // here on one ends the process, so this look covers the moment in between.
        std::string answer;
        const bool yes = !Interrupts::take().requested() && std::getline(std::cin, answer) &&
                         (answer == "y" || answer == "Y" || answer == "yes");
        session.cooperate();
        if (!yes) {
            std::puts("Nothing was moved.");
            return declined;
        }
    }
    if (Interrupts::take().requested()) {
        std::puts("Nothing was moved.");
        return declined;
    }
    session.executing = &plan;
    model.confirmAndExecute(plan);
    session.waitUntil([&] { return model.phase() != Phase::executing; });
    session.executing = nullptr;
    if (!model.report() || model.report()->planID != plan.id) {
        std::printf("%s\n", displayable(model.notice().value_or("The cleanup did not run.")).c_str());
        return refused;
    }
    const CleanupReport report = *model.report();
    session.waitUntil([&] { return model.phase() != Phase::scanning; }); // the rescan after a cleanup
    const int status = printReport(report, session, options.json);
    return session.stopping ? declined : status;
}

int history(const Options& options) {
    Session session;
    // Reconciled as the journals say, and certainly those this start has just reconciled.
    std::vector<CleanupReport> reports = session.model.history();
    for (auto& report : reports)
        for (const auto& recovered : session.model.recovered())
            if (recovered.planID == report.planID) report.reconciled = true;
    if (options.json) {
        Json list = Json::array();
        for (const auto& report : reports) list.push_back(encodeJson(report));
        std::printf("%s\n", jsonText(list).c_str());
        return done;
    }
    if (reports.empty()) std::puts("No cleanups yet.");
    for (std::size_t i = 0; i < reports.size(); ++i) std::printf("%s\n", historyLine(i + 1, reports[i]).c_str());
    return done;
}

/// The paths an argument of put-back may stand for: as given and as displayed, each taken from
/// the working folder, with and without the links of its folder resolved.
std::vector<std::string> candidatePaths(const std::string& given) {
    std::vector<std::string> forms{given};
    if (const auto bytes = fromDisplayable(given); bytes && *bytes != given) forms.push_back(*bytes);
    std::vector<std::string> paths;
    for (const auto& form : forms) {
        const std::string path = absolutePath(form);
        paths.push_back(path);
        if (const auto folder = PathRules::real(deletingLastPathComponent(path)))
            paths.push_back(*folder == "/" ? "/" + lastPathComponent(path) : *folder + "/" + lastPathComponent(path));
    }
    return paths;
}

int putBack(const Options& options) {
    if (options.operands.empty() || options.operands.front().empty()) {
        std::fputs("put-back needs a cleanup: its number in history, or the first 8 or more characters of its id.\n", stderr);
        return usage;
    }
    Session session;
    const auto& reports = session.model.history();
    const auto choice = chooseCleanup(reports, options.operands.front());
    if (const auto* refusal = std::get_if<std::string>(&choice)) {
        std::fprintf(stderr, "%s\n", refusal->c_str());
        return usage;
    }
    const CleanupReport chosen = reports[std::get<std::size_t>(choice)];

    // Each PATH must name a picture of this cleanup; one that does not refuses all.
    std::vector<const ItemReport*> items;
    const std::vector<std::string> named(options.operands.begin() + 1, options.operands.end());
    for (const auto& given : named) {
        const auto paths = candidatePaths(given);
        const auto found = std::find_if(chosen.items.begin(), chosen.items.end(), [&](const ItemReport& item) {
            return std::find(paths.begin(), paths.end(), item.removal.path) != paths.end();
        });
        if (given.empty() || found == chosen.items.end()) {
            std::fprintf(stderr, "Not a picture of that cleanup: %s\n", asGiven(given).c_str());
            return usage;
        }
        if (std::find(items.begin(), items.end(), &*found) == items.end()) items.push_back(&*found);
    }
    if (named.empty())
        for (const auto& item : chosen.items) items.push_back(&item);

    session.cooperate();
    int putBack = 0, tried = 0, notAttempted = 0;
    for (const ItemReport* item : items) {
        const std::string name = session.shown(item->removal.path);
        if (item->outcome.kind != ItemOutcome::Kind::movedToTrash) {
            if (!named.empty())
                std::printf("Not in the Trash from this cleanup (%s): %s\n", std::string(item->outcome.word()).c_str(),
                            name.c_str());
            continue;
        }
        if (Interrupts::take().requested()) {
            ++notAttempted;
            continue;
        }
        ++tried;
        const RestoreOutcome outcome = session.model.putBack(chosen, *item);
        switch (outcome.kind) {
        case RestoreOutcome::Kind::restored:
            ++putBack;
            std::printf("Put back: %s\n", session.shown(outcome.text).c_str());
            break;
        case RestoreOutcome::Kind::occupied:
            std::printf("Not put back, %s is taken: %s\n", session.shown(outcome.text).c_str(), name.c_str());
            break;
        case RestoreOutcome::Kind::failed:
            std::printf("Not put back (%s): %s\n", displayable(outcome.text).c_str(), name.c_str());
            break;
        case RestoreOutcome::Kind::notInTrash: std::printf("No longer in the Trash: %s\n", name.c_str()); break;
        }
    }
    if (notAttempted > 0) {
        std::printf("Interrupted: %s left in the Trash.\n", pictures(static_cast<std::size_t>(notAttempted)).c_str());
        return declined;
    }
    if (tried == 0) std::puts("Nothing of that cleanup is in the Trash.");
    return putBack == tried && tried > 0 ? done : refused;
}

} // namespace

std::variant<std::size_t, std::string> chooseCleanup(const std::vector<CleanupReport>& reports, std::string_view which) {
    constexpr std::size_t shortestID = 8;
    const std::string given(which);
    if (which.empty()) return std::string("put-back needs a cleanup: its number in history, or the first 8 or more characters of its id.");
    const bool digits = std::all_of(which.begin(), which.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits && which.size() < shortestID) {
        const std::size_t number = std::stoul(given);
        if (number >= 1 && number <= reports.size()) return number - 1;
        return "There is no cleanup " + given + " in the history; it lists " + std::to_string(reports.size()) + ".";
    }
    if (which.size() < shortestID)
        return "A cleanup's id needs at least 8 characters, or give its number in history: " + displayable(given);
    std::vector<std::size_t> matches;
    for (std::size_t i = 0; i < reports.size(); ++i)
        if (lowercased(reports[i].planID.text()).starts_with(lowercased(given))) matches.push_back(i);
    if (matches.empty()) return "No cleanup in the history has an id that begins with " + displayable(given) + ".";
    if (matches.size() > 1)
        return std::to_string(matches.size()) + " cleanups have ids that begin with " + displayable(given) +
               "; give more of the id.";
    return matches.front();
}

std::string historyLine(std::size_t number, const CleanupReport& report) {
    std::string line = std::to_string(number) + ". " + Restorer::localDateAndTime(report.started) + "  " +
                       std::to_string(report.moved()) + " moved, " + std::to_string(report.skipped()) + " skipped, " +
                       std::to_string(report.failed()) + " failed, " + std::to_string(report.restored()) + " put back";
    if (report.reconciled) line += " (interrupted, reconciled)";
    if (const auto unknown = report.unknown()) line += ", " + std::to_string(unknown) + " to check by hand";
    return line + "  [" + report.planID.text() + "]";
}

std::string absolutePath(const std::string& path) {
    if (path.starts_with("/")) return PathRules::standardized(path);
    std::string folder;
    if (char* working = ::getcwd(nullptr, 0)) {
        folder = working;
        std::free(working);
    }
    return PathRules::standardized(folder + "/" + path);
}

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
    Interrupts::take(); // before the model starts any thread
    if (command == "clean") return clean(*options);
    if (command == "history") return history(*options);
    return putBack(*options);
}

} // namespace vp::TidyCommands
