#include "TidyCommands.h"

#include "CatalogCommands.h"
#include "CompressCommands.h"
#include "CommandLine.h"
#include "Help.h"
#include "LibraryClean.h"

#include "engine/cleanup/CleanupJournal.h"
#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "engine/library/LibrarySource.h"
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
#include <set>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace vp::TidyCommands {

namespace {

using CommandLine::asGiven;
using CommandLine::bytesText;
using CommandLine::jsonText;
using CommandLine::pictures;

struct Options {
    std::string command;
    Mode mode = Mode::exact;
    std::optional<SimilarityPreset> preset;
    std::vector<std::string> protectedFolders;
    std::optional<std::vector<KeeperPolicy::Priority>> priorities;
    bool yes = false;
    bool dryRun = false;
    bool json = false;
    bool interactive = false;
    bool listSkipped = false;
    bool noCache = false;
    bool library = false; ///< the operand, if any, names the library (LibraryClean.h)
    bool help = false;
    std::optional<std::string> lightroom;  ///< a catalog whose copies are marked Rejected
    std::optional<std::string> captureOne; ///< a catalog whose copies are tagged Red
    std::vector<std::string> operands;
};

/// The options each command takes. A yes-or-no option is one line here and a field above.
struct OptionSpec {
    std::string_view name;
    bool takesValue;
    bool forClean, forHistory, forPutBack, forUndo;
    bool Options::*flag; ///< for yes-or-no options
};
constexpr OptionSpec optionSpecs[] = {
    {"--help", false, true, true, true, true, &Options::help},
    {"-h", false, true, true, true, true, &Options::help},
    {"--json", false, true, true, false, false, &Options::json},
    {"--yes", false, true, false, false, false, &Options::yes},
    {"--dry-run", false, true, false, false, false, &Options::dryRun},
    {"--interactive", false, true, false, false, false, &Options::interactive},
    {"--skipped", false, true, false, false, false, &Options::listSkipped},
    {"--no-cache", false, true, false, false, false, &Options::noCache},
    {"--library", false, true, false, false, false, &Options::library},
    {"--mode", true, true, false, false, false, nullptr},
    {"--preset", true, true, false, false, false, nullptr},
    {"--protect", true, true, false, false, false, nullptr},
    {"--priorities", true, true, false, false, false, nullptr},
    {"--lightroom", true, true, false, false, false, nullptr},
    {"--capture-one", true, true, false, false, false, nullptr},
};

bool takes(const OptionSpec& spec, const std::string& command) {
    if (command == "clean") return spec.forClean;
    if (command == "history") return spec.forHistory;
    return command == "undo" ? spec.forUndo : spec.forPutBack;
}

/// Reads the options and operands of a command; the one-line reason when they are not understood.
Result<Options, std::string> parse(const std::vector<std::string>& arguments) {
    Options options;
    options.command = arguments[1];
    const std::string& command = options.command;
    std::set<std::string> given; // options that take a value and may be given once
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--") {
            options.operands.insert(options.operands.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                    arguments.end());
            break;
        }
        const auto option = CommandLine::option(argument);
        if (!option) {
            options.operands.push_back(argument);
            continue;
        }
        const auto spec = std::find_if(std::begin(optionSpecs), std::end(optionSpecs),
                                       [&](const OptionSpec& known) { return known.name == option->name; });
        if (spec == std::end(optionSpecs) || !takes(*spec, command))
            return Unexpected{"Unknown option for " + command + ": " + asGiven(argument) + " (velmo-pristel " + command +
                              " --help lists them)"};
        if (option->name == "--library" && option->value) { // --library=PATH, as --library PATH
            options.library = true;
            options.operands.push_back(*option->value);
            continue;
        }
        if (!spec->takesValue) {
            if (option->value) return Unexpected{option->name + " takes no value: " + asGiven(argument)};
            options.*(spec->flag) = true;
            continue;
        }
        std::string value;
        if (option->value) {
            value = *option->value;
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            return Unexpected{option->name + " needs a value (velmo-pristel " + command + " --help)"};
        }
        if (option->name != "--protect" && !given.insert(option->name).second)
            return Unexpected{option->name + " is given twice."};
        if (option->name == "--mode") {
            const auto mode = enumFromRaw<Mode>(value);
            if (!mode) return Unexpected{"--mode takes exact, similar or series, not " + asGiven(value)};
            options.mode = *mode;
        } else if (option->name == "--preset") {
            const auto preset = enumFromRaw<SimilarityPreset>(value);
            if (!preset) return Unexpected{"--preset takes conservative, balanced or broad, not " + asGiven(value)};
            options.preset = preset;
        } else if (option->name == "--lightroom") {
            options.lightroom = value;
        } else if (option->name == "--capture-one") {
            options.captureOne = value;
        } else if (option->name == "--protect") {
            options.protectedFolders.push_back(value);
        } else if (option->name == "--priorities") {
            options.priorities.emplace();
            for (const auto& raw : split(value, ',')) {
                const auto priority = enumFromRaw<KeeperPolicy::Priority>(trimmed(raw));
                if (!priority)
                    return Unexpected{"Unknown priority: " + asGiven(trimmed(raw)) +
                                      " (velmo-pristel clean --help lists them)"};
                options.priorities->push_back(*priority);
            }
        }
    }
    if (options.help) return options;
    if (command == "history" && !options.operands.empty())
        return Unexpected{"history takes no folders or names: " + asGiven(options.operands.front())};
    if (command == "undo" && options.operands.size() > 1)
        return Unexpected{"undo takes one marking: " + asGiven(options.operands[1]) + " is one too many"};
    if (command == "clean" && (options.lightroom || options.captureOne)) {
        if (options.lightroom && options.captureOne)
            return Unexpected{std::string("--lightroom and --capture-one do not go together.")};
        if (!options.operands.empty())
            return Unexpected{"clean scans the catalog's own photos, not folders: " + asGiven(options.operands.front())};
        if (!options.protectedFolders.empty())
            return Unexpected{std::string("--protect is for folders; in a catalog, flag or rate the photos to keep instead.")};
    }
    if (command == "clean") {
        if (options.json && options.interactive) return Unexpected{std::string("--interactive and --json do not go together.")};
        if (options.json && !options.yes && !options.dryRun)
            return Unexpected{std::string("clean --json needs --yes or --dry-run: it never asks.")};
        if (options.library && (options.lightroom || options.captureOne))
            return Unexpected{std::string("Give one of --library, --lightroom and --capture-one.")};
        if (options.library && !options.protectedFolders.empty())
            return Unexpected{std::string("--protect is for folders; a library's copies are only tagged, never moved.")};
        if (options.library && !options.operands.empty() && options.operands.front().empty())
            return Unexpected{std::string("--library= needs shotwell or the path of a photo.db.")};
        if (options.library && options.operands.size() > 1)
            return Unexpected{"clean --library takes one library, shotwell or a photo.db, not also " +
                              asGiven(options.operands[1])};
    }
    return options;
}

/// At most about 40 bytes of a displayable text, cut between characters, for a progress line
/// that must not wrap.
std::string shortened(const std::string& text) {
    constexpr std::size_t longest = 40;
    if (text.size() <= longest) return text;
    std::size_t cut = longest;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) --cut; // not inside a character
    return text.substr(0, cut) + "\u2026";
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
            CommandLine::takeTerminationSignals([created](int received) { created->handle(received); });
            return created;
        }();
        return *interrupts;
    }

    bool requested() const { return m_requested.load(); }

    /// The terminal's settings to put back should a signal end the process while keys are read
    /// one at a time; none when the terminal is as it was.
    void setTerminal(std::optional<termios> saved) {
        std::lock_guard lock(m_mutex);
        m_terminal = saved;
    }

    /// While cooperating, a signal wakes `queue` (null: none to wake).
    void setStage(Stage stage, MainQueue* queue = nullptr) {
        std::lock_guard lock(m_mutex);
        m_stage = stage;
        m_queue = queue;
    }

private:
    void handle(int received) {
        std::lock_guard lock(m_mutex);
        const bool again = m_requested.exchange(true);
        if (m_stage == Stage::asking) {
            if (m_terminal) ::tcsetattr(STDIN_FILENO, TCSANOW, &*m_terminal);
            static constexpr char newline[] = "\n", line[] = "Nothing was moved.\n";
            (void)!::write(STDERR_FILENO, newline, sizeof newline - 1); // ends the question's line
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

    std::atomic<bool> m_requested{false};
    std::mutex m_mutex; // held while the stage changes and while a signal is acted on
    Stage m_stage = Stage::immediate;
    MainQueue* m_queue = nullptr;
    std::optional<termios> m_terminal;
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
    bool json = false; ///< standard output carries one JSON document
    /// The sign of a copy the plan takes: moved to the Trash, or marked in a catalog.
    std::string markSign = "trash";

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
    std::string shown(const PhotoAsset& picture) const {
        return picture.library ? LibraryClean::shown(picture) : shown(picture.path);
    }

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

/// One group as `clean` lists it: each member with the sign of what happens to it.
void printGroup(const Session& session, const DuplicateGroup& group) {
    const ReviewSession& review = *session.model.session();
    const auto suggestion = KeeperPolicy::suggestion(group, review.context());
    std::printf("\n%s: %zu photos\n", std::string(rawValue(group.kind)).c_str(), group.members.size());
    for (const auto& member : group.members) {
        const char* sign = member.path == suggestion.keeperID ? "keep "
                           : review.isMarked(member.path)     ? (member.library ? "album" : session.markSign.c_str())
                                                              : "     ";
        std::printf("  %s %s\n", sign, session.shown(member).c_str());
    }
    std::printf("  (kept: %s)\n", displayable(suggestion.reason).c_str());
}

void printPlan(const PhotoCleanupModel& model, const CleanupPlan& plan) {
    std::printf("\nPlan: %s, %s\n", pictures(plan.removals.size()).c_str(), bytesText(plan.totalBytes()).c_str());
    const bool inLibrary = !plan.removals.empty() && LibrarySource::isLibraryPath(plan.removals.front().path);
    for (const auto& volume : inLibrary ? std::vector<VolumeCount>{} : plan.volumes())
        std::printf("  on %s: %lld\n", displayable(volume.name).c_str(), static_cast<long long>(volume.count));
    if (const auto cloud = plan.cloudSyncedCount()) std::printf("  in cloud-synchronised folders: %lld\n", static_cast<long long>(cloud));
    if (const auto external = plan.externalCount()) std::printf("  on external drives: %lld\n", static_cast<long long>(external));
    if (const auto differ = model.notIdentical(plan))
        std::printf("  not byte-identical to the copy kept: %lld\n", static_cast<long long>(differ));
}

/// A cleanup's record for scripts, its dates in local time with their offset.
Json reportJson(const CleanupReport& report) { return CommandLine::withLocalDates(encodeJson(report)); }

Json planJson(const CleanupPlan& plan) { return CommandLine::withLocalDates(encodeJson(plan)); }

void printReportLines(const CleanupReport& report, const Session& session) {
    for (const auto& item : report.items) {
        const auto detail = item.outcome.detail();
        std::printf("%s: %s%s\n", std::string(item.outcome.word()).c_str(), session.shown(item.removal.path).c_str(),
                    detail ? (" (" + displayable(*detail) + ")").c_str() : "");
    }
    std::printf("\n%lld moved to the Trash (%s), %lld skipped, %lld failed\n", static_cast<long long>(report.moved()),
                bytesText(report.movedBytes()).c_str(), static_cast<long long>(report.skipped()),
                static_cast<long long>(report.failed()));
}

int reportStatus(const CleanupReport& report) {
    return report.skipped() + report.failed() + report.unknown() > 0 ? incomplete : done;
}

void printNotice(const PhotoCleanupModel& model) {
    if (model.notice()) std::fprintf(stderr, "%s\n", displayable(*model.notice()).c_str());
}

/// What `clean --json` prints, whatever happens: the header, the run's choices, and then the
/// outcome with the plan or the report. Absent parts are left out.
struct CleanDocument {
    Json json;

    CleanDocument(const Options& options, const std::vector<std::string>& roots) : json(CommandLine::header("clean")) {
        json["mode"] = std::string(rawValue(options.mode));
        if (options.mode != Mode::exact)
            json["preset"] = std::string(rawValue(options.preset.value_or(SimilarityPreset::balanced)));
        json["roots"] = roots;
        json["protected"] = Json::array();
    }
    /// Prints the document with `outcome` (nothingToDo, planned, finished, cancelled, declined,
    /// refused) and, when given, the sentence that tells why.
    void print(std::string_view outcome, const std::optional<std::string>& message,
               const std::vector<CommandLine::LeftOut>& leftOut) {
        json["outcome"] = std::string(outcome);
        if (message) json["message"] = *message;
        Json skipped = Json::array();
        for (const auto& item : leftOut) skipped.push_back(encodeJson(item));
        json["skipped"] = std::move(skipped);
        std::printf("%s\n", jsonText(json).c_str());
    }
};

// ---- Choosing in the terminal

/// Reads one answer: a key at a time from a terminal (the terminal is put back afterwards, and
/// by the signal thread should Ctrl-C end the process meanwhile), else a line. Absent at the end
/// of the input. A number needs Enter after it when the group has ten copies or more.
std::optional<std::string> readAnswer(std::size_t copies) {
    if (::isatty(STDIN_FILENO) == 0) {
        std::string line;
        if (!std::getline(std::cin, line)) return std::nullopt;
        return trimmed(line);
    }
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) return std::nullopt;
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    Interrupts::take().setTerminal(saved);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    std::string answer;
    std::optional<std::string> result;
    while (true) {
        char key = 0;
        const ssize_t got = ::read(STDIN_FILENO, &key, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (key == '\n' || key == '\r') {
            result = answer;
            break;
        }
        if (key == 0x7f && !answer.empty()) { // backspace, while typing a number
            answer.pop_back();
            std::fputs("\b \b", stderr);
            continue;
        }
        if (key < ' ' || key > '~') continue;
        answer += key;
        std::fputc(key, stderr);
        const bool digit = key >= '0' && key <= '9';
        if (!digit || copies < 10) {
            result = answer;
            break;
        }
    }
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    Interrupts::take().setTerminal(std::nullopt);
    std::fputc('\n', stderr);
    return result;
}

enum class Walk { finished, stopped, quit };

/// `clean --interactive`: each group with its copies' facts and the suggestion, then the person's
/// choice: accept it, keep another copy, keep all, stop (the rest are kept), or quit.
Walk chooseGroups(Session& session) {
    PhotoCleanupModel& model = session.model;
    const std::vector<DuplicateGroup> groups = model.session()->groups;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const DuplicateGroup& group = groups[g];
        const auto suggestion = KeeperPolicy::suggestion(group, model.session()->context());
        std::printf("\nGroup %zu of %zu, %s: %zu photos\n", g + 1, groups.size(), std::string(rawValue(group.kind)).c_str(),
                    group.members.size());
        std::size_t suggested = 0;
        for (std::size_t m = 0; m < group.members.size(); ++m) {
            const PhotoAsset& member = group.members[m];
            if (member.path == suggestion.keeperID) suggested = m + 1;
            std::string facts = bytesText(member.snapshot.size);
            if (member.pixelWidth && member.pixelHeight)
                facts += ", " + std::to_string(*member.pixelWidth) + " \u00d7 " + std::to_string(*member.pixelHeight);
            facts += ", " + CommandLine::localDateTime(member.snapshot.modifiedSeconds);
            if (member.isExternalVolume && member.volumeName) facts += ", on " + displayable(*member.volumeName);
            if (const auto refusal = model.session()->refusal(member.path); refusal && member.path != suggestion.keeperID)
                facts += ", stays: " + displayable(refusal->message());
            const int width = group.members.size() < 10 ? 1 : group.members.size() < 100 ? 2 : 3;
            std::printf("  %*zu. %s\n  %*s  %s\n", width, m + 1, session.shown(member.path).c_str(), width, "",
                        facts.c_str());
        }
        std::printf("  Suggested: keep %zu. %s.\n", suggested, displayable(suggestion.reason).c_str());
        std::fflush(stdout);
        while (true) {
            std::fprintf(stderr, "Keep: [Enter] as suggested, 1-%zu that copy, [a] all, [s] stop here, [q] quit? ",
                         group.members.size());
            std::fflush(stderr);
            Interrupts::take().setStage(Interrupts::Stage::asking);
            const auto answer = Interrupts::take().requested() ? std::nullopt : readAnswer(group.members.size());
            session.cooperate();
            if (!answer || *answer == "q" || *answer == "Q") {
                if (!answer) std::fputc('\n', stderr);
                return Walk::quit;
            }
            if (answer->empty() || *answer == "y" || *answer == "Y") {
                model.markSuggested(group.id);
                std::printf("  Keeping %zu, as suggested.\n", suggested);
                break;
            }
            if (*answer == "a" || *answer == "A") {
                model.clearMarks(group.id);
                std::puts("  Keeping all.");
                break;
            }
            if (*answer == "s" || *answer == "S") {
                model.clearMarks(group.id);
                std::printf("  Stopped: this group and the %zu after it keep all their copies.\n", groups.size() - g - 1);
                return Walk::stopped;
            }
            const bool number = std::all_of(answer->begin(), answer->end(), [](char c) { return c >= '0' && c <= '9'; });
            const std::size_t chosen = number && answer->size() < 6 ? std::stoul(*answer) : 0;
            if (chosen >= 1 && chosen <= group.members.size()) {
                model.clearMarks(group.id);
                for (std::size_t m = 0; m < group.members.size(); ++m) {
                    if (m + 1 == chosen) continue;
                    const std::string& path = group.members[m].path;
                    if (const auto refusal = model.session()->refusal(path)) {
                        std::printf("  %zu stays: %s\n", m + 1, displayable(refusal->message()).c_str());
                        continue;
                    }
                    model.toggleMark(path);
                }
                std::printf("  Keeping %zu.\n", chosen);
                break;
            }
            std::fprintf(stderr, "Not an answer here: %s\n", displayable(*answer).c_str());
        }
    }
    return Walk::finished;
}

/// Asks the question ("Move … to the Trash? [y/N]") on standard error; true for y or yes.
bool approved(const std::string& question) {
    std::fflush(stdout); // the plan before the question, where both go to one place
    std::fputs(question.c_str(), stderr);
    std::fflush(stderr);
    Interrupts::take().setStage(Interrupts::Stage::asking);
    // A signal taken after the scan and before the question was noted, not acted on: from
    // here on one ends the process, so this look covers the moment in between.
    std::string answer;
    const bool answered = !Interrupts::take().requested() && std::getline(std::cin, answer);
    if (!answered) std::fputc('\n', stderr); // no answer came: end the question's line
    const std::string word = trimmed(answer);
    return answered && (word == "y" || word == "Y" || word == "yes");
}

/// The folders of this run become the model's sources; a status when the run ends here.
std::optional<int> chooseFolders(const Options& options, Session& session, CleanDocument& document,
                                 const std::vector<std::string>& folders,
                                 const std::vector<std::string>& protectedFolders) {
    PhotoCleanupModel& model = session.model;
    // Folders protected in the settings keep protecting: one inside a chosen folder is scanned
    // as a protected folder; a chosen folder inside one is protected as a whole.
    std::vector<std::string> storedProtected;
    for (const auto& source : model.sources())
        if (source.isProtected) storedProtected.push_back(source.path);

    // This run's folders are the ones scanned (the session is transient: nothing is saved).
    model.setScope(Scope::folders);
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
        const std::string why = "Nothing was moved: --yes needs every stored lock and protected folder. Run clean without it.";
        if (options.json) document.print("refused", why, {});
        std::fprintf(stderr, "%s\n", why.c_str());
        return refused;
    }
    for (const auto& source : model.sources()) {
        if (!source.isProtected) continue;
        const bool stored = std::any_of(storedProtected.begin(), storedProtected.end(), [&](const std::string& path) {
            return PathRules::isInside(source.path, path);
        });
        document.json["protected"].push_back(source.path);
        std::fprintf(options.json ? stderr : stdout, "Protected%s, nothing in it is moved: %s\n",
                     stored ? " in your settings" : "", session.shown(source.path).c_str());
    }
    return std::nullopt;
}

/// The library of this run (Shotwell's own, or the photo.db given) becomes the model's source; a
/// status when the run ends here.
template <class Finish>
std::optional<int> chooseLibrary(const Options& options, Session& session, CleanDocument& document, const Finish& finish) {
    const std::string database =
        LibraryClean::databaseFor(options.operands.empty() ? std::nullopt : std::optional(options.operands.front()));
    document.json["roots"] = std::vector<std::string>{database};
    session.cooperate();
    if (const auto refusal = LibraryClean::open(session.model, database)) {
        // Like every refusal, on standard error; the JSON document says it too.
        if (options.json) finish("refused", *refusal, {});
        std::fprintf(stderr, "%s\n", refusal->c_str());
        return LibraryClean::refusalStatus(session.model.libraryAccess());
    }
    return std::nullopt;
}

/// The catalog of this run becomes the model's source; a status when the run ends here.
std::optional<int> chooseCatalog(const Options& options, Session& session, CleanDocument& document, Scope kind,
                                 const std::string& catalog) {
    PhotoCleanupModel& model = session.model;
    const auto refuse = [&](const std::string& why, int status) {
        if (options.json) document.print("refused", why, {});
        std::fprintf(stderr, "%s\n", displayable(why).c_str());
        return status;
    };
    // Asked before the scan: marking a catalog its program has open is refused anyway.
    if (!options.dryRun) {
        if (kind == Scope::lightroom && LightroomCatalog::isOpen(catalog))
            return refuse(LightroomRejecter::Refusal{LightroomRejecter::Refusal::Kind::lightroomOpen, {}}.description(),
                          refused);
        if (kind == Scope::captureOne && CaptureOneCatalog::isOpen(catalog))
            return refuse(CaptureOneMarker::Refusal{CaptureOneMarker::Refusal::Kind::captureOneOpen, {}}.description(),
                          refused);
    }
    session.cooperate();
    if (kind == Scope::lightroom) model.chooseLightroomCatalog(catalog);
    else model.chooseCaptureOneCatalog(catalog);
    const bool read = kind == Scope::lightroom ? model.lightroomCatalog().has_value() : model.captureOneCatalog().has_value();
    if (!read) return refuse(model.notice().value_or("The catalog could not be read."), usage);
    printNotice(model); // an untested version is told, and still scanned
    model.setScope(kind);
    return std::nullopt;
}

/// Marks the approved plan in the catalog and tells what was marked and skipped.
template <class Report>
int markInCatalog(Session& session, const CleanupPlan& plan, Scope kind, const std::optional<Report>& report,
                  const std::function<void(std::string_view, const std::optional<std::string>&, const Json*)>& finish) {
    PhotoCleanupModel& model = session.model;
    if (kind == Scope::lightroom) model.confirmMarkRejected(plan);
    else model.confirmTagRed(plan);
    session.waitUntil([&] { return model.phase() != Phase::executing; });
    if (!report || !report->record || report->record->planID != plan.id) {
        finish("refused", model.notice().value_or("The catalog was not changed."), nullptr);
        return refused;
    }
    const Report marking = *report;
    session.waitUntil([&] { return model.phase() != Phase::scanning; }); // the catalog as it is now
    Json json;
    json["id"] = marking.id.text();
    json["marked"] = marking.marked;
    json["skipped"] = encodeJson(marking.skipped);
    json["record"] = CatalogCommands::markingJson(*marking.record);
    finish("finished", std::nullopt, &json);
    if (!session.json) {
        const std::string deed = kind == Scope::lightroom ? "Marked Rejected" : "Tagged Red";
        for (const auto& path : marking.marked) std::printf("%s: %s\n", deed.c_str(), session.shown(path).c_str());
        for (const auto& skip : marking.skipped)
            std::printf("Skipped: %s (%s)\n", displayable(skip.name).c_str(), displayable(skip.reason).c_str());
        const std::string name = displayable(marking.record->name());
        std::printf("\n%zu %s in %s, %zu skipped. A backup of the catalog is in %s\n", marking.marked.size(),
                    kind == Scope::lightroom ? "marked Rejected" : "tagged Red", name.c_str(), marking.skipped.size(),
                    session.shown(marking.record->backupPath).c_str());
        std::printf("Delete them in %s, or take this back with: velmo-pristel undo %s\n",
                    kind == Scope::lightroom ? "Lightroom Classic" : "Capture One",
                    marking.record->id.text().substr(0, 8).c_str());
    }
    return session.stopping ? declined : marking.skipped.empty() ? TidyCommands::done : incomplete;
}

int clean(const Options& options) {
    const std::optional<Scope> catalogKind = options.lightroom ? std::optional(Scope::lightroom)
                                             : options.captureOne ? std::optional(Scope::captureOne)
                                                                  : std::nullopt;
    if (!catalogKind && !options.library && options.operands.empty()) {
        std::fputs("clean needs at least one folder (velmo-pristel clean --help).\n", stderr);
        return usage;
    }
    // Every folder is checked before anything else happens: one that is not there refuses all.
    std::vector<std::string> folders, protectedFolders;
    for (const auto* list : {&options.operands, &options.protectedFolders}) {
        if (options.library && list == &options.operands) continue; // it names the library
        for (const auto& given : *list) {
            std::string resolved;
            if (const auto refusal = CommandLine::folderRefusal(given, resolved)) {
                std::fprintf(stderr, "%s\n", refusal->c_str());
                return usage;
            }
            (list == &options.operands ? folders : protectedFolders).push_back(resolved);
        }
    }
    std::string catalog;
    if (catalogKind) {
        const std::string& given = options.lightroom ? *options.lightroom : *options.captureOne;
        catalog = absolutePath(given);
        struct stat status {};
        if (given.empty() || ::stat(catalog.c_str(), &status) != 0) {
            std::fprintf(stderr, "No such catalog: %s\n", asGiven(given).c_str());
            return usage;
        }
    }

    Session session;
    session.json = options.json;
    session.model.setUsesScanCache(!options.noCache);
    PhotoCleanupModel& model = session.model;
    CleanDocument document(options, folders);
    if (catalogKind) document.json["catalog"] = {{"kind", std::string(rawValue(*catalogKind))}, {"path", catalog}};
    const auto finish = [&](std::string_view outcome, const std::optional<std::string>& message,
                            const std::vector<CommandLine::LeftOut>& leftOut) {
        if (options.json) document.print(outcome, message, leftOut);
        else if (message) std::printf("%s\n", displayable(*message).c_str());
    };
    model.setMode(options.mode);
    if (options.preset) model.setPreset(*options.preset);
    if (options.priorities) model.setPriorities(*options.priorities);
    const auto stop = catalogKind     ? chooseCatalog(options, session, document, *catalogKind, catalog)
                      : options.library ? chooseLibrary(options, session, document, finish)
                                        : chooseFolders(options, session, document, folders, protectedFolders);
    if (stop) return *stop;
    if (catalogKind) session.markSign = "mark ";

    session.waitUntil([&] { return model.phase() != Phase::scanning; });
    if (model.phase() != Phase::results || Interrupts::take().requested()) {
        if (catalogKind && model.phase() == Phase::idle && model.notice() && !Interrupts::take().requested()) {
            finish("refused", *model.notice(), {}); // the catalog could not be scanned
            return refused;
        }
        if (options.json) document.print("cancelled", std::string("cancelled"), {});
        else std::puts("cancelled");
        return declined;
    }
    // What the scan left out is told last, on standard error, whatever happens next.
    const auto leftOut = CommandLine::leftOut(*model.result(), model.similarity().get());
    struct Tell {
        const std::vector<CommandLine::LeftOut>& items;
        bool list;
        ~Tell() {
            std::fflush(stdout); // after what standard output says, where both go to one place
            CommandLine::tellLeftOut(stderr, items, list);
        }
    } tell{leftOut, options.listSkipped};

    if (options.interactive) {
        const Walk walked = chooseGroups(session);
        if (walked == Walk::quit || Interrupts::take().requested()) {
            std::puts(catalogKind ? "Nothing was marked." : "Nothing was moved.");
            return declined;
        }
    } else {
        model.markSuggested();
        if (!options.json)
            for (const auto& group : model.session()->groups) printGroup(session, group);
    }
    model.review();
    if (!model.pendingPlan()) {
        finish("nothingToDo", model.notice().value_or("Nothing to do."), leftOut);
        return model.session()->marks().empty() ? done : refused;
    }
    const CleanupPlan plan = *model.pendingPlan();
    document.json["plan"] = planJson(plan);
    if (!options.json && catalogKind)
        std::printf("\nPlan: %s to mark %s in %s. Nothing is deleted here: you delete them in %s.\n",
                    pictures(plan.removals.size()).c_str(), std::string(CatalogCommands::deed(*catalogKind)).c_str(),
                    displayable(CatalogCommands::catalogName(*catalogKind, catalog)).c_str(),
                    *catalogKind == Scope::lightroom ? "Lightroom Classic" : "Capture One");
    else if (!options.json) printPlan(model, plan);
    if (options.dryRun) {
        finish("planned", std::nullopt, leftOut);
        return done;
    }
    const std::string nothing = catalogKind ? "Nothing was marked." : "Nothing was moved.";
    if (!options.yes) {
        const std::string question =
            catalogKind       ? CatalogCommands::question(*catalogKind, plan.removals.size(),
                                                          displayable(CatalogCommands::catalogName(*catalogKind, catalog)))
            : options.library ? LibraryClean::question(plan)
                              : "Move " + pictures(plan.removals.size()) + " (" + bytesText(plan.totalBytes()) + ") to the Trash? [y/N] ";
        const bool yes = approved(question);
        session.cooperate();
        if (!yes) {
            std::puts(nothing.c_str());
            return declined;
        }
    }
    if (Interrupts::take().requested()) {
        finish("declined", nothing, leftOut);
        return declined;
    }
    if (catalogKind) {
        const auto told = [&](std::string_view outcome, const std::optional<std::string>& message, const Json* marking) {
            if (marking) document.json["marking"] = *marking;
            finish(outcome, message, leftOut);
        };
        return *catalogKind == Scope::lightroom ? markInCatalog(session, plan, *catalogKind, model.lightroomReport(), told)
                                                : markInCatalog(session, plan, *catalogKind, model.captureOneReport(), told);
    }
    session.executing = options.library ? nullptr : &plan;
    model.confirmAndExecute(plan);
    session.waitUntil([&] { return model.phase() != Phase::executing; });
    session.executing = nullptr;
    if (options.library) {
        if (!model.albumReport()) {
            finish("refused", model.notice().value_or("The review album was not changed."), leftOut);
            return refused;
        }
        const ReviewAlbum::Report album = *model.albumReport();
        session.waitUntil([&] { return model.phase() != Phase::scanning; }); // the rescan after adding
        if (options.json) {
            document.json["albumReport"] = LibraryClean::reportJson(album);
            document.print("finished", std::nullopt, leftOut);
        } else {
            LibraryClean::printReport(album, plan);
        }
        return album.skipped.empty() ? done : incomplete;
    }
    if (!model.report() || model.report()->planID != plan.id) {
        finish("refused", model.notice().value_or("The cleanup did not run."), leftOut);
        return refused;
    }
    const CleanupReport report = *model.report();
    session.waitUntil([&] { return model.phase() != Phase::scanning; }); // the rescan after a cleanup
    if (options.json) {
        document.json["report"] = reportJson(report);
        document.print("finished", std::nullopt, leftOut);
    } else {
        printReportLines(report, session);
    }
    return session.stopping ? declined : reportStatus(report);
}

int history(const Options& options) {
    Session session;
    // Reconciled as the journals say, and certainly those this start has just reconciled.
    std::vector<CleanupReport> reports = session.model.history();
    for (auto& report : reports)
        for (const auto& recovered : session.model.recovered())
            if (recovered.planID == report.planID) report.reconciled = true;
    const auto markings = catalogMarkings(session.model);
    if (options.json) {
        Json list = Json::array();
        for (const auto& report : reports) {
            list.push_back(reportJson(report));
            list.back()["kind"] = "cleanup";
        }
        for (const auto& marking : markings) list.push_back(CatalogCommands::markingJson(marking));
        for (auto& compression : CompressCommands::historyJson()) list.push_back(std::move(compression));
        std::printf("%s\n", jsonText(list).c_str());
        return done;
    }
    if (reports.empty()) std::puts("No cleanups yet.");
    for (std::size_t i = 0; i < reports.size(); ++i) std::printf("%s\n", historyLine(i + 1, reports[i]).c_str());
    if (!markings.empty()) std::puts("\nMarkings in catalogs (velmo-pristel undo NUMBER takes one back):");
    for (std::size_t i = 0; i < markings.size(); ++i)
        std::printf("%s\n", CatalogCommands::historyLine(i + 1, markings[i]).c_str());
    CompressCommands::printHistory();
    return done;
}

int undo(const Options& options) {
    if (options.operands.empty() || options.operands.front().empty()) {
        std::fputs("undo needs a marking: its number in history, or the first 8 or more characters of its id.\n", stderr);
        return usage;
    }
    Session session;
    const auto markings = catalogMarkings(session.model);
    std::vector<std::string> ids;
    for (const auto& marking : markings) ids.push_back(markingID(marking).text());
    const auto choice = chooseEntry(ids, options.operands.front(), "marking");
    if (const auto* refusal = std::get_if<std::string>(&choice)) {
        std::fprintf(stderr, "%s\n", refusal->c_str());
        return usage;
    }
    const auto& chosen = markings[std::get<std::size_t>(choice)];
    if (isTakenBack(chosen)) {
        std::puts("That marking was taken back already.");
        return refused;
    }
    takeBack(session.model, chosen);
    const auto after = catalogMarkings(session.model);
    const bool takenBack = std::any_of(after.begin(), after.end(), [&](const MarkingRecord& marking) {
        return markingID(marking) == markingID(chosen) && isTakenBack(marking);
    });
    const std::string notice = displayable(session.model.notice().value_or(""));
    std::fprintf(takenBack ? stdout : stderr, "%s\n", notice.c_str());
    return takenBack ? done : refused;
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
    if (const auto status = CompressCommands::putBackIfCompression(options.operands)) return *status;
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

std::variant<std::size_t, std::string> chooseEntry(const std::vector<std::string>& ids, std::string_view which,
                                                   const std::string& noun) {
    constexpr std::size_t shortestID = 8;
    const std::string given(which);
    if (which.empty())
        return (noun == "cleanup" ? "put-back" : "undo") + (" needs a " + noun) +
               ": its number in history, or the first 8 or more characters of its id.";
    const bool digits = std::all_of(which.begin(), which.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits && which.size() < shortestID) {
        const std::size_t number = std::stoul(given);
        if (number >= 1 && number <= ids.size()) return number - 1;
        return "There is no " + noun + " " + given + " in the history; it lists " + std::to_string(ids.size()) + ".";
    }
    if (which.size() < shortestID)
        return "A " + noun + "'s id needs at least 8 characters, or give its number in history: " + displayable(given);
    std::vector<std::size_t> matches;
    for (std::size_t i = 0; i < ids.size(); ++i)
        if (lowercased(ids[i]).starts_with(lowercased(given))) matches.push_back(i);
    if (matches.empty()) return "No " + noun + " in the history has an id that begins with " + displayable(given) + ".";
    if (matches.size() > 1)
        return std::to_string(matches.size()) + " " + noun + "s have ids that begin with " + displayable(given) +
               "; give more of the id.";
    return matches.front();
}

std::variant<std::size_t, std::string> chooseCleanup(const std::vector<CleanupReport>& reports, std::string_view which) {
    std::vector<std::string> ids;
    for (const auto& report : reports) ids.push_back(report.planID.text());
    return chooseEntry(ids, which, "cleanup");
}

std::string historyLine(std::size_t number, const CleanupReport& report) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(report.started).time_since_epoch().count();
    std::string line = std::to_string(number) + ". " + CommandLine::localDateTime(seconds) + "  " + std::to_string(report.moved()) + " moved, " +
                       std::to_string(report.skipped()) + " skipped, " + std::to_string(report.failed()) + " failed, " +
                       std::to_string(report.restored()) + " put back";
    if (report.reconciled) line += " (interrupted, reconciled)";
    if (const auto unknown = report.unknown()) line += ", " + std::to_string(unknown) + " to check by hand";
    return line + "  [" + report.planID.text() + "]";
}

std::string absolutePath(const std::string& path) { return CommandLine::absolutePath(path); }

std::optional<std::string> argumentProblem(const std::vector<std::string>& arguments) {
    const auto options = parse(arguments);
    if (options) return std::nullopt;
    return options.error();
}

bool isCommand(std::string_view word) {
    return word == "clean" || word == "history" || word == "put-back" || word == "undo";
}

std::optional<int> runIfAsked(const std::vector<std::string>& arguments) {
    if (arguments.size() < 2 || !isCommand(arguments[1])) return std::nullopt;
    const std::string& command = arguments[1];
    const auto options = parse(arguments);
    if (!options) {
        std::fprintf(stderr, "%s\n", options.error().c_str());
        return usage;
    }
    if (options->help) {
        const std::string text = command == "clean"     ? Help::clean()
                                 : command == "history" ? Help::history()
                                 : command == "undo"    ? Help::undo()
                                                        : Help::putBack();
        std::fputs(text.c_str(), stdout);
        return done;
    }
    Interrupts::take(); // before the model starts any thread
    if (command == "clean") return clean(*options);
    if (command == "history") return history(*options);
    if (command == "undo") return undo(*options);
    return putBack(*options);
}

} // namespace vp::TidyCommands
