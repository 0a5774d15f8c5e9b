#include "CleanupJournal.h"

#include "engine/common/Text.h"
#include "platform/FileLock.h"
#include "platform/RegularFile.h"
#include "platform/SystemError.h"
#include "platform/WriteAll.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vp {

JournalError::JournalError(int code, std::string path)
    : std::runtime_error(systemErrorText(code) + " (" + path + ")"), m_code(code), m_path(std::move(path)) {}

JournalError::JournalError(std::string message, std::string path)
    : std::runtime_error(message + " (" + path + ")"), m_path(std::move(path)) {}

namespace {

/// Forces a folder's entries to disk, so a file just created in it survives a crash.
void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::string folderOf(const std::string& path) {
    std::string folder = deletingLastPathComponent(path);
    return folder.empty() ? "." : folder;
}

/// The journal files of a folder, in listing order; empty when it cannot be listed.
std::vector<std::string> journalFiles(const std::string& folder) {
    std::vector<std::string> result;
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return result;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (!startsWith(name, "cleanup-") || pathExtension(name) != "jsonl") continue;
        // A FIFO or a device under a journal's name would block or never end a reader.
        struct stat status {};
        if (::fstatat(::dirfd(directory), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode))
            continue;
        result.push_back(folder + "/" + name);
    }
    ::closedir(directory);
    return result;
}

} // namespace

std::string CleanupJournal::fileName(const Uuid& planID) { return "cleanup-" + planID.text() + ".jsonl"; }

std::string CleanupJournal::pathFor(const std::string& directory, const Uuid& planID) {
    return directory + "/" + fileName(planID);
}

CleanupJournal::CleanupJournal(const CleanupPlan& plan, const std::string& directory)
    : m_url(pathFor(directory, plan.id)) {
    std::error_code error;
    const bool createdFolder = std::filesystem::create_directories(directory, error);
    if (error) throw JournalError(error.value(), directory);
    if (createdFolder) syncFolder(folderOf(directory));

    m_fd = ::open(m_url.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (m_fd < 0) throw JournalError(errno, m_url);
    try {
        // Locked before the plan line exists, so no reader ever takes this cleanup for an
        // interrupted one while it runs.
        if (!FileLock::tryExclusive(m_fd)) throw JournalError(errno, m_url);
        // The file's name must survive a crash as surely as its lines do.
        syncFolder(directory);
        write(Entry::planEntry(plan, std::chrono::system_clock::now()));
    } catch (...) {
        ::close(std::exchange(m_fd, -1));
        throw;
    }
}

CleanupJournal::~CleanupJournal() {
    if (m_fd >= 0) ::close(m_fd);
}

CleanupJournal::CleanupJournal(CleanupJournal&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_url(std::move(other.m_url)) {}

void CleanupJournal::write(const Entry& entry) {
    // Names that are not UTF-8 are escaped by the JSON layer, so every entry has a text form.
    std::string line = encodeJson(entry).dump() + '\n';
    if (!writeAll(m_fd, line)) throw JournalError(errno, m_url);
    if (::fsync(m_fd) != 0) throw JournalError(errno, m_url);
}

CleanupJournal CleanupJournal::openForAppending(const std::string& url) {
    // Without blocking: a FIFO under the journal's name would wait for a reader for ever.
    const int fd = ::open(url.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw JournalError(errno, url);
    CleanupJournal journal(fd, url);
    struct stat kind {};
    if (::fstat(fd, &kind) != 0) throw JournalError(errno, url);
    if (!S_ISREG(kind.st_mode)) throw JournalError("Not a regular file", url);
    if (!FileLock::tryExclusive(fd)) throw JournalError(errno, url);

    // A writer that stopped inside a line left it unterminated; end it so the new entry
    // stands on its own line and the torn one stays a single line nobody can decode.
    const int reader = ::open(url.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (reader < 0) return journal;
    struct stat status {};
    int problem = 0;
    char last = '\n';
    if (::fstat(reader, &status) != 0)
        problem = errno;
    else if (status.st_size > 0 && ::pread(reader, &last, 1, status.st_size - 1) != 1)
        problem = errno != 0 ? errno : EIO;
    if (::close(reader) != 0 && problem == 0) problem = errno;
    if (problem != 0) throw JournalError(problem, url);
    if (last != '\n') {
        if (!writeAll(journal.m_fd, "\n")) throw JournalError(errno, url);
    }
    return journal;
}

void CleanupJournal::append(const std::string& itemID, const ItemOutcome& outcome, const std::string& url) {
    openForAppending(url).write(Entry::outcomeEntry(itemID, outcome, std::chrono::system_clock::now()));
}

void CleanupJournal::note(const std::string& itemID, const std::string& text, const std::string& url) {
    openForAppending(url).write(Entry::note(itemID, text, std::chrono::system_clock::now()));
}

std::optional<CleanupJournal::Parsed> CleanupJournal::parse(const std::string& url) {
    const auto read = readRegularFile(url, largestJournal);
    if (!read.ok()) return std::nullopt;
    return parseText(read.content);
}

std::optional<CleanupJournal::Parsed> CleanupJournal::parseText(std::string_view text) {
    std::optional<Parsed> result;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty()) continue;

        const auto decoded = decodeJsonText<Entry>(line);
        if (!decoded) continue;
        const Entry& entry = *decoded;
        if (entry.kind == Entry::Kind::plan) {
            if (entry.plan) result = Parsed{*entry.plan, entry.at, {}, {}, {}, std::nullopt, false};
            continue;
        }
        if (!result) continue;
        switch (entry.kind) {
        case Entry::Kind::plan: break;
        case Entry::Kind::intent:
            if (entry.itemID) result->intents.insert(*entry.itemID);
            break;
        case Entry::Kind::outcome:
            if (entry.itemID && entry.outcome) result->outcomes[*entry.itemID] = {*entry.outcome, entry.at};
            break;
        case Entry::Kind::note:
            if (entry.itemID && entry.text) result->notes[*entry.itemID].push_back(*entry.text);
            break;
        case Entry::Kind::finished:
            result->finished = entry.at;
            if (entry.text == Entry::reconciledMark) result->reconciled = true;
            break;
        }
    }
    return result;
}

CleanupReport CleanupJournal::report(const Parsed& parsed, const std::string& url) {
    CleanupReport report{parsed.plan.id, parsed.started, parsed.finished, {}, parsed.reconciled, url};
    const Timestamp unsettledAt = parsed.finished.value_or(parsed.started);
    for (const auto& removal : parsed.plan.removals) {
        ItemReport item{removal, ItemOutcome::skipped(std::string(notAttempted)), unsettledAt, {}};
        if (const auto found = parsed.outcomes.find(removal.path); found != parsed.outcomes.end()) {
            item.outcome = found->second.first;
            item.at = found->second.second;
        } else if (parsed.intents.contains(removal.path)) {
            item.outcome = ItemOutcome::unknown(std::string(stoppedWhileMoving));
        }
        if (const auto notes = parsed.notes.find(removal.path); notes != parsed.notes.end()) item.notes = notes->second;
        report.items.push_back(std::move(item));
    }
    return report;
}

std::optional<CleanupReport> CleanupJournal::report(const std::string& url) {
    const auto parsed = parse(url);
    if (!parsed) return std::nullopt;
    return report(*parsed, url);
}

std::vector<CleanupReport> CleanupJournal::history(const std::string& folder) {
    std::vector<CleanupReport> reports;
    for (const auto& url : journalFiles(folder))
        if (auto made = report(url)) reports.push_back(std::move(*made));
    std::stable_sort(reports.begin(), reports.end(),
                     [](const CleanupReport& a, const CleanupReport& b) { return a.started > b.started; });
    return reports;
}

std::vector<std::string> CleanupJournal::unfinished(const std::string& folder) {
    std::vector<std::string> result;
    for (const auto& url : journalFiles(folder)) {
        const auto parsed = parse(url);
        if (parsed && !parsed->finished) result.push_back(url);
    }
    return result;
}

} // namespace vp
