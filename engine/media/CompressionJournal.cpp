#include "CompressionJournal.h"

#include "engine/cleanup/CleanupJournal.h"
#include "engine/common/Text.h"
#include "platform/RegularFile.h"
#include "platform/UniqueFd.h"
#include "platform/WriteAll.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace vp::CompressionJournal {

namespace {

std::string line(const Entry& entry) { return encodeJson(entry).dump() + "\n"; }

void writeForced(int fd, const std::string& bytes, const std::string& url) {
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) throw JournalError(errno, url);
}

} // namespace

std::string pathFor(const std::string& directory, const Uuid& planID) { return directory + "/" + planID.text() + ".jsonl"; }

void create(const std::string& url, Timestamp started) {
    const std::string folder = deletingLastPathComponent(url);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const UniqueFd fd(::open(url.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) throw JournalError(errno, url);
    Entry plan;
    plan.started = started;
    writeForced(fd.get(), line(plan), url);
    // The new name itself must survive a crash, or the journal would vanish with it.
    const UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0 || ::fsync(directory.get()) != 0) throw JournalError(errno, folder);
}

void append(const std::string& url, const Entry& entry) {
    const UniqueFd fd(::open(url.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) throw JournalError(errno, url);
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) throw JournalError(errno, url);
    if (!S_ISREG(status.st_mode)) throw JournalError(EINVAL, url);
    std::string bytes = line(entry);
    char last = '\n';
    if (status.st_size > 0 && ::pread(fd.get(), &last, 1, status.st_size - 1) != 1) throw JournalError(errno, url);
    if (last != '\n') bytes.insert(bytes.begin(), '\n');
    writeForced(fd.get(), bytes, url);
}

std::vector<Entry> entries(const std::string& url) {
    const auto file = readRegularFile(url, CleanupJournal::largestJournal);
    std::vector<Entry> found;
    if (!file.ok()) return found;
    for (const auto& text : split(file.content, '\n')) {
        if (trimmed(text).empty()) continue;
        if (auto entry = decodeJsonText<Entry>(text)) found.push_back(std::move(*entry));
    }
    return found;
}

std::optional<CompressionReport> report(const std::string& url) {
    const auto lines = entries(url);
    if (lines.empty() || lines.front().step != Entry::Step::plan) return std::nullopt;
    const auto id = Uuid::parse(deletingPathExtension(lastPathComponent(url)));
    if (!id) return std::nullopt;
    CompressionReport report{*id, lines.front().started.value_or(Timestamp{}), {}, url};
    std::map<std::string, std::size_t> index;
    for (const Entry& entry : lines) {
        if (entry.step == Entry::Step::plan || !entry.path) continue;
        auto [at, added] = index.emplace(*entry.path, report.items.size());
        if (added) report.items.push_back({*entry.path, 0, CompressionOutcome::failed(std::string(unsettled)), std::nullopt});
        CompressionItem& item = report.items[at->second];
        if (entry.originalSize) item.originalSize = *entry.originalSize;
        if (entry.final && *entry.final != item.path) item.replacedBy = *entry.final;
        if (entry.step == Entry::Step::done && entry.outcome) item.outcome = *entry.outcome;
    }
    return report;
}

} // namespace vp::CompressionJournal
