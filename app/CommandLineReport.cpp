#include "CommandLineReport.h"

#include "CommandLine.h"

#include "engine/common/Text.h"
#include "engine/review/KeeperPolicy.h"
#include "engine/scan/ExactMatcher.h"
#include "engine/similarity/QualityHints.h"
#include "engine/similarity/SimilarityMatcher.h"
#include "model/AppFolders.h"
#include "model/PhotoCleanupHost.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string_view>
#include <thread>
#include <unistd.h>

namespace vp::CommandLineReport {

namespace {

constexpr double seriesWindowSeconds = 3.0;

/// What a cancelled report prints with --json.
Json cancelledDocument() {
    Json json = CommandLine::header("report");
    json["cancelled"] = true;
    return json;
}

std::string memberLine(const PhotoAsset& member, const std::map<std::string, std::int64_t>& scores,
                       const std::map<std::string, std::string>& hints) {
    static const PhotoCleanupHost host;
    std::string line = "  " + displayable(host.abbreviate(member.path));
    if (const auto score = scores.find(member.path); score != scores.end())
        line += "   quality " + std::to_string(score->second);
    if (const auto hint = hints.find(member.path); hint != hints.end()) line += "   [" + displayable(hint->second) + "]";
    return line;
}

void printGroupHeader(std::FILE* out, const DuplicateGroup& group) {
    std::fprintf(out, "\n%s: %zu photos\n", std::string(rawValue(group.kind)).c_str(), group.members.size());
}

std::string scanLine(const ScanProgress& progress) {
    std::string line(rawValue(progress.stage));
    switch (progress.stage) {
    case ScanProgress::Stage::discovering: line += ": " + std::to_string(progress.discovered) + " entries"; break;
    case ScanProgress::Stage::reading: line += ": " + std::to_string(progress.discovered) + " pictures"; break;
    default:
        line += ": " + std::to_string(progress.examined) + " pictures, " + std::to_string(progress.matched) +
                " in groups, " + std::to_string(progress.skipped) + " skipped";
        break;
    }
    return line;
}

/// The document's start: the header, the roots scanned and, for look-alikes, the preset.
Json documentStart(const Request& request, const ScanResult& scan) {
    Json json = CommandLine::header("report");
    json["mode"] = std::string(request.mode == Mode::similar ? "similar" : request.mode == Mode::series ? "series" : "exact");
    json["roots"] = scan.roots;
    if (request.mode == Mode::similar) json["preset"] = std::string(rawValue(request.preset));
    return json;
}

/// A group as scripts read it: every member with its facts, and the copy the keeper policy
/// would keep (by its standard priorities; nothing here is locked or protected) with the reason.
Json groupJson(const DuplicateGroup& group, const SimilarityIndex* index) {
    KeeperPolicy::Context context;
    context.priorities.assign(KeeperPolicy::standard.begin(), KeeperPolicy::standard.end());
    std::map<std::string, std::int64_t> scores;
    std::map<std::string, std::string> hints, faceNotes;
    if (index != nullptr) {
        context.sharpness = [index](const PhotoAsset& asset) -> std::optional<double> {
            const auto features = index->featuresFor(asset);
            return features ? std::optional(features->sharpness) : std::nullopt;
        };
        context.quality = [index](const PhotoAsset& asset) -> std::optional<std::int64_t> {
            const auto features = index->featuresFor(asset);
            return features ? features->qualityScore : std::nullopt;
        };
        context.faces = [index](const PhotoAsset& asset) -> std::optional<FaceReading> {
            const auto features = index->featuresFor(asset);
            return features ? features->faces : std::nullopt;
        };
        scores = QualityHints::scores(group, *index);
        hints = QualityHints::hints(group, *index);
        faceNotes = QualityHints::faceNotes(group, *index);
    }
    const auto suggestion = KeeperPolicy::suggestion(group, context);
    Json json = Json::object();
    json["id"] = group.id;
    json["kind"] = std::string(rawValue(group.kind));
    Json members = Json::array();
    for (const auto& member : group.members) {
        Json entry = Json::object();
        entry["path"] = member.path;
        entry["size"] = member.snapshot.size;
        if (member.pixelWidth) entry["pixelWidth"] = *member.pixelWidth;
        if (member.pixelHeight) entry["pixelHeight"] = *member.pixelHeight;
        entry["date"] = CommandLine::localTimestamp(member.snapshot.modifiedSeconds);
        if (index != nullptr)
            if (const auto features = index->featuresFor(member); features && features->captureDate)
                entry["captureDate"] = CommandLine::wallClockTimestamp(*features->captureDate);
        if (const auto score = scores.find(member.path); score != scores.end()) entry["quality"] = score->second;
        Json notes = Json::array();
        if (const auto hint = hints.find(member.path); hint != hints.end()) notes.push_back(hint->second);
        if (const auto note = faceNotes.find(member.path); note != faceNotes.end()) notes.push_back(note->second);
        entry["hints"] = notes;
        entry["keeper"] = member.path == suggestion.keeperID;
        members.push_back(std::move(entry));
    }
    json["members"] = std::move(members);
    Json keeper = Json::object();
    keeper["path"] = suggestion.keeperID;
    keeper["reason"] = suggestion.reason;
    json["keeper"] = std::move(keeper);
    return json;
}

Json leftOutJson(const std::vector<CommandLine::LeftOut>& items) {
    Json list = Json::array();
    for (const auto& item : items) list.push_back(encodeJson(item));
    return list;
}

/// The scan cache of this user (ScanCache), or none with "--no-cache".
std::unique_ptr<ScanCache> scanCache(const Request& request) {
    if (request.noCache) return nullptr;
    return std::make_unique<ScanCache>(AppFolders::standard(PhotoCleanupHost::realHome()).scanCacheFile());
}

int runExact(const Request& request, std::FILE* out, std::FILE* messages, const CancellationFlag& cancel,
             const ScanProgressCallback& onScan, const std::function<void(const std::string&)>& progress) {
    const auto cache = scanCache(request);
    const ScanResult result =
        ExactMatcher::scan(request.folders, false, std::nullopt, {}, cancel, onScan, {}, {}, {cache.get()});
    if (result.cancelled) {
        std::fputs(request.json ? (CommandLine::jsonText(cancelledDocument()) + "\n").c_str() : "cancelled\n", out);
        return 1;
    }
    const auto leftOut = CommandLine::leftOut(result, nullptr);
    if (request.json) {
        Json json = documentStart(request, result);
        json["summary"] = {{"pictures", result.examined}, {"groups", static_cast<std::int64_t>(result.groups.size())}};
        Json groups = Json::array();
        for (const auto& group : result.groups) groups.push_back(groupJson(group, nullptr));
        json["groups"] = std::move(groups);
        json["skipped"] = leftOutJson(leftOut);
        std::fprintf(out, "%s\n", CommandLine::jsonText(json).c_str());
    } else {
        for (const auto& group : result.groups) {
            printGroupHeader(out, group);
            for (const auto& member : group.members) std::fprintf(out, "%s\n", memberLine(member, {}, {}).c_str());
        }
        std::fprintf(out, "\n%s compared, %lld identical %s\n",
                     CommandLine::pictures(static_cast<std::size_t>(result.examined)).c_str(),
                     static_cast<long long>(result.groups.size()), result.groups.size() == 1 ? "group" : "groups");
    }
    if (progress) progress({}); // the progress line goes before anything else is said there
    if (messages != nullptr) {
        std::fflush(out); // the report first, where both go to one place
        CommandLine::tellLeftOut(messages, leftOut, request.listSkipped);
    }
    return 0;
}

} // namespace

Result<std::optional<Request>, std::string> parse(const std::vector<std::string>& arguments) {
    Request request;
    std::optional<std::string> modeFlag;     // as given
    std::optional<std::string> reportOption; // the first option that only a report takes
    std::optional<std::string> stray;        // the first operand outside the folder list
    bool collecting = false, afterDashes = false, presetPossible = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!afterDashes) {
            if (argument == "--") {
                afterDashes = true;
                presetPossible = false;
                continue;
            }
            if (const auto option = CommandLine::option(argument)) {
                collecting = false;
                presetPossible = false;
                const std::optional<Mode> mode = option->name == "--similar"  ? std::optional(Mode::similar)
                                                 : option->name == "--series" ? std::optional(Mode::series)
                                                 : option->name == "--exact"  ? std::optional(Mode::exact)
                                                                              : std::nullopt;
                if (mode) {
                    if (option->value)
                        return Unexpected{option->name + " takes no value; a preset or folders follow it: " +
                                          CommandLine::asGiven(argument)};
                    if (modeFlag)
                        return Unexpected{"Give one of --exact, --similar and --series, not both " + *modeFlag + " and " +
                                          option->name + "."};
                    modeFlag = option->name;
                    request.mode = *mode;
                    collecting = true;
                    presetPossible = *mode != Mode::exact;
                    continue;
                }
                const auto flag = std::find_if(std::begin(flags), std::end(flags),
                                               [&](const Flag& known) { return known.name == option->name; });
                if (flag == std::end(flags))
                    return Unexpected{"Unknown option: " + CommandLine::asGiven(argument) + " (velmo-pristel --help lists them)"};
                if (option->value) return Unexpected{option->name + " takes no value: " + CommandLine::asGiven(argument)};
                request.*(flag->field) = true;
                if (!reportOption) reportOption = option->name;
                continue;
            }
        }
        if (collecting || afterDashes) {
            if (presetPossible) {
                presetPossible = false;
                if (const auto preset = enumFromRaw<SimilarityPreset>(argument)) {
                    request.preset = *preset;
                    continue;
                }
            }
            request.folders.push_back(argument);
        } else if (!stray) {
            stray = argument;
        }
    }
    if (!modeFlag) {
        if (reportOption) return Unexpected{*reportOption + " goes with --exact, --similar or --series."};
        return std::optional<Request>();
    }
    if (stray)
        return Unexpected{"Folders go right after " + *modeFlag + ", before other options: " + CommandLine::asGiven(*stray)};
    return std::optional<Request>(std::move(request));
}

std::optional<std::string> folderRefusal(const Request& request) {
    for (std::size_t i = 0; i < request.folders.size(); ++i) {
        const std::string& given = request.folders[i];
        std::string resolved;
        auto refusal = CommandLine::folderRefusal(given, resolved);
        if (!refusal) continue;
        // A mistyped preset lands here as a folder that is not there: say what the presets are.
        if (i == 0 && request.mode != Mode::exact && refusal->starts_with("No such folder") &&
            given.find('/') == std::string::npos)
            *refusal += " (nor is it a preset: conservative, balanced or broad)";
        return refusal;
    }
    return std::nullopt;
}

int run(const Request& request, std::FILE* out, const SharedCancellationFlag& cancel,
        const std::function<void(const std::string&)>& progress, std::FILE* messages) {
    const ScanProgressCallback onScan = [&](const ScanProgress& report) {
        if (progress) progress(scanLine(report));
    };
    if (request.mode == Mode::exact) return runExact(request, out, messages, *cancel, onScan, progress);

    const auto cache = scanCache(request);
    const ScanResult scan = ExactMatcher::scan(request.folders, true, std::nullopt, {}, *cancel, onScan, {}, {}, {cache.get()});
    std::mutex progressMutex; // measuring reports from worker threads
    const auto index = SimilarityMatcher::index(
        scan.pictures, nullptr, WithFeaturePrint::yes, nullptr, *cancel, [&](std::int64_t done, std::int64_t total) {
            if (!progress) return;
            std::lock_guard lock(progressMutex);
            progress(std::string(rawValue(ScanProgress::Stage::measuring)) + ": " + std::to_string(done) + " of " +
                     std::to_string(total));
        });
    if (!index) {
        std::fputs(request.json ? (CommandLine::jsonText(cancelledDocument()) + "\n").c_str() : "cancelled\n", out);
        return 1;
    }
    const auto groups = request.mode == Mode::similar
                            ? index->groups(request.preset)
                            : index->series(seriesWindowSeconds, SimilarityThresholds::seriesRelated);
    const auto leftOut = CommandLine::leftOut(scan, &*index);
    if (request.json) {
        Json json = documentStart(request, scan);
        json["summary"] = {{"pictures", static_cast<std::int64_t>(scan.pictures.size())},
                           {"closePairs", static_cast<std::int64_t>(index->pairs.size())},
                           {"groups", static_cast<std::int64_t>(groups.size())}};
        Json list = Json::array();
        for (const auto& group : groups) list.push_back(groupJson(group, &*index));
        json["groups"] = std::move(list);
        json["skipped"] = leftOutJson(leftOut);
        std::fprintf(out, "%s\n", CommandLine::jsonText(json).c_str());
    } else {
        for (const auto& group : groups) {
            printGroupHeader(out, group);
            const auto hints = QualityHints::hints(group, *index);
            const auto scores = QualityHints::scores(group, *index);
            for (const auto& member : group.members) std::fprintf(out, "%s\n", memberLine(member, scores, hints).c_str());
        }
        const std::string kind = request.mode == Mode::similar
                                     ? "similar groups at " + std::string(name(request.preset))
                                     : std::string("series");
        std::fprintf(out, "\n%zu pictures measured, %zu close pairs, %zu %s\n", scan.pictures.size(), index->pairs.size(),
                     groups.size(), kind.c_str());
    }
    if (progress) progress({}); // the progress line goes before anything else is said there
    if (messages != nullptr) {
        std::fflush(out); // the report first, where both go to one place
        CommandLine::tellLeftOut(messages, leftOut, request.listSkipped);
    }
    return 0;
}

namespace {

/// One line on standard error, redrawn at most ten times a second and wiped at the end.
class TerminalProgress {
public:
    void show(const std::string& line) {
        if (line.empty()) return clear();
        std::lock_guard lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        if (now - m_last < std::chrono::milliseconds(100)) return;
        m_last = now;
        std::fprintf(stderr, "\r\033[K%s", displayable(line).c_str());
        std::fflush(stderr);
        m_shown = true;
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        if (m_shown) std::fputs("\r\033[K", stderr);
        m_shown = false;
    }

private:
    std::mutex m_mutex;
    std::chrono::steady_clock::time_point m_last{};
    bool m_shown = false;
};

// Ctrl-C and termination are taken by a thread of their own (the signals are blocked everywhere
// else), so they can cancel the scan through its lock instead of killing the process mid-write.
// A worker stuck inside the system (a hung network drive) never looks at the flag again: a
// second signal, or a few seconds without the report ending, ends the process all the same.
// The report changes nothing on disk, so nothing is left half done.
void cancelOnInterrupt(const SharedCancellationFlag& cancel, std::string cancelled) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, cancel, cancelled = std::move(cancelled)] {
        int received = 0;
        while (sigwait(&signals, &received) != 0) {}
        cancel->cancel();
        const timespec grace{5, 0};
        while (sigtimedwait(&signals, nullptr, &grace) < 0 && errno == EINTR) {
        }
        (void)!::write(STDOUT_FILENO, cancelled.data(), cancelled.size());
        std::_Exit(1);
    }).detach();
}

} // namespace

void runIfAsked(int argc, char** argv) {
    const auto parsed = parse(std::vector<std::string>(argv, argv + argc));
    if (!parsed) {
        std::fprintf(stderr, "%s\n", parsed.error().c_str());
        std::fflush(stderr);
        std::_Exit(2);
    }
    if (!*parsed) return;
    const Request& request = **parsed;
    // Every folder is checked before anything is scanned: one that is not there refuses all.
    if (const auto refusal = folderRefusal(request)) {
        std::fprintf(stderr, "%s\n", refusal->c_str());
        std::fflush(stderr);
        std::_Exit(2);
    }
    const auto cancel = std::make_shared<CancellationFlag>();
    cancelOnInterrupt(cancel, request.json ? CommandLine::jsonText(cancelledDocument()) + "\n" : "cancelled\n");
    TerminalProgress terminal;
    std::function<void(const std::string&)> progress;
    if (::isatty(STDERR_FILENO)) progress = [&terminal](const std::string& line) { terminal.show(line); };
    const int status = run(request, stdout, cancel, progress, stderr);
    terminal.clear();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

} // namespace vp::CommandLineReport
