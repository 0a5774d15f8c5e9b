#include "CommandLineReport.h"

#include "engine/common/Text.h"
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

/// The scan cache of this user (ScanCache), or none with "--no-cache".
std::unique_ptr<ScanCache> scanCache(const Request& request) {
    if (request.noCache) return nullptr;
    return std::make_unique<ScanCache>(AppFolders::standard(PhotoCleanupHost::realHome()).scanCacheFile());
}

int runExact(const Request& request, std::FILE* out, const CancellationFlag& cancel, const ScanProgressCallback& onScan) {
    const auto cache = scanCache(request);
    const ScanResult result =
        ExactMatcher::scan(request.folders, false, std::nullopt, {}, cancel, onScan, {}, {}, {cache.get()});
    if (result.cancelled) {
        std::fputs("cancelled\n", out);
        return 1;
    }
    for (const auto& group : result.groups) {
        printGroupHeader(out, group);
        for (const auto& member : group.members) std::fprintf(out, "%s\n", memberLine(member, {}, {}).c_str());
    }
    std::fprintf(out, "\n%lld pictures compared, %zu identical groups\n", static_cast<long long>(result.examined),
                 result.groups.size());
    return 0;
}

} // namespace

std::optional<Request> parse(const std::vector<std::string>& arguments) {
    const auto find = [&](const char* flag) {
        for (std::size_t i = 1; i < arguments.size(); ++i)
            if (arguments[i] == flag) return std::optional<std::size_t>(i);
        return std::optional<std::size_t>();
    };
    Request request;
    std::optional<std::size_t> flag = find("--similar");
    if (flag) {
        request.mode = Mode::similar;
    } else if ((flag = find("--series"))) {
        request.mode = Mode::series;
    } else if ((flag = find("--exact"))) {
        request.mode = Mode::exact;
    } else {
        return std::nullopt;
    }
    request.noCache = find("--no-cache").has_value();
    for (std::size_t i = *flag + 1; i < arguments.size() && (!arguments[i].starts_with("-") || arguments[i] == "--no-cache");
         ++i)
        if (arguments[i] != "--no-cache") request.folders.push_back(arguments[i]);
    if (request.mode != Mode::exact && !request.folders.empty()) {
        if (const auto preset = enumFromRaw<SimilarityPreset>(request.folders.front())) {
            request.preset = *preset;
            request.folders.erase(request.folders.begin());
        }
    }
    return request;
}

int run(const Request& request, std::FILE* out, const SharedCancellationFlag& cancel,
        const std::function<void(const std::string&)>& progress) {
    const ScanProgressCallback onScan = [&](const ScanProgress& report) {
        if (progress) progress(scanLine(report));
    };
    if (request.mode == Mode::exact) return runExact(request, out, *cancel, onScan);

    const auto cache = scanCache(request);
    const ScanResult scan = ExactMatcher::scan(request.folders, true, std::nullopt, {}, *cancel, onScan, {}, {}, {cache.get()});
    std::mutex progressMutex; // measuring reports from worker threads
    const auto index = SimilarityMatcher::index(
        scan.pictures, nullptr, WithFeaturePrint::no, nullptr, *cancel, [&](std::int64_t done, std::int64_t total) {
            if (!progress) return;
            std::lock_guard lock(progressMutex);
            progress(std::string(rawValue(ScanProgress::Stage::measuring)) + ": " + std::to_string(done) + " of " +
                     std::to_string(total));
        });
    if (!index) {
        std::fputs("cancelled\n", out);
        return 1;
    }
    const auto groups = request.mode == Mode::similar
                            ? index->groups(request.preset)
                            : index->series(seriesWindowSeconds, SimilarityThresholds::seriesRelated);
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
    return 0;
}

namespace {

/// One line on standard error, redrawn at most ten times a second and wiped at the end.
class TerminalProgress {
public:
    void show(const std::string& line) {
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
void cancelOnInterrupt(const SharedCancellationFlag& cancel) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, cancel] {
        int received = 0;
        while (sigwait(&signals, &received) != 0) {}
        cancel->cancel();
        const timespec grace{5, 0};
        while (sigtimedwait(&signals, nullptr, &grace) < 0 && errno == EINTR) {
        }
        constexpr std::string_view cancelled = "cancelled\n";
        (void)!::write(STDOUT_FILENO, cancelled.data(), cancelled.size());
        std::_Exit(1);
    }).detach();
}

} // namespace

void runIfAsked(int argc, char** argv) {
    const auto request = parse(std::vector<std::string>(argv, argv + argc));
    if (!request) return;
    const auto cancel = std::make_shared<CancellationFlag>();
    cancelOnInterrupt(cancel);
    TerminalProgress terminal;
    std::function<void(const std::string&)> progress;
    if (::isatty(STDERR_FILENO)) progress = [&terminal](const std::string& line) { terminal.show(line); };
    const int status = run(*request, stdout, cancel, progress);
    terminal.clear();
    std::fflush(stdout);
    std::_Exit(status);
}

} // namespace vp::CommandLineReport
