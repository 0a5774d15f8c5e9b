#include "VideoCompressor.h"

#include "engine/cleanup/CleanupExecutor.h"
#include "engine/cleanup/Restorer.h"
#include "engine/common/PathRules.h"
#include "engine/common/Text.h"
#include "engine/common/Uuid.h"
#include "platform/FileLock.h"
#include "platform/FolderHandle.h"
#include "platform/media/Movies.h"

#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>

namespace vp {

namespace {

using Entry = CompressionJournal::Entry;

Timestamp now() { return std::chrono::system_clock::now(); }

bool sameFile(const FileSnapshot& current, const FileSnapshot& scanned) {
    return current.identity == scanned.identity && current.size == scanned.size &&
           current.modifiedSeconds == scanned.modifiedSeconds && current.modifiedNanoseconds == scanned.modifiedNanoseconds &&
           current.isRegularFile == scanned.isRegularFile && current.isSymbolicLink == scanned.isSymbolicLink;
}

bool exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

/// The hidden name a copy is made under: ".clip.mov.pristelphoto-1A2B3C4D.mov".
std::string temporaryPathFor(const std::string& path) {
    const std::string name = lastPathComponent(path);
    const std::string extension = pathExtension(name);
    return deletingLastPathComponent(path) + "/." + name + ".pristelphoto-" + Uuid::random().text().substr(0, 8) +
           (extension.empty() ? "" : "." + extension);
}

/// Moves a leftover copy to the Trash; nothing is ever deleted, not even a refused copy.
void discard(const Trasher& trasher, const std::string& temporary) {
    if (!exists(temporary)) return;
    try {
        const_cast<Trasher&>(trasher).trash(temporary);
    } catch (const std::exception&) {
        // It stays hidden beside the original, named by the journal.
    }
}

/// Renames `from` to `to` in their folders, reached without links, never replacing.
int moveWithoutReplacing(const std::string& from, const std::string& to) {
    const auto source = FolderHandle::open(deletingLastPathComponent(from));
    const auto target = FolderHandle::open(deletingLastPathComponent(to));
    if (!source.handle) return source.error;
    if (!target.handle) return target.error;
    const int code = renameWithoutReplacing(*source.handle, lastPathComponent(from), *target.handle, lastPathComponent(to));
    if (code == 0) target.handle->sync();
    return code;
}

/// The original back from the Trash, only that very file, never over another.
RestoreOutcome putBack(const std::string& trashPath, const std::string& destination) {
    const auto inTrash = FileSnapshot::read(trashPath);
    if (!inTrash) return RestoreOutcome::notInTrash();
    ItemReport item;
    item.removal.path = destination;
    item.removal.snapshot = *inTrash;
    item.outcome = ItemOutcome::movedToTrash(trashPath);
    return Restorer::restore(item, std::nullopt, destination);
}

std::string explainRefusal(const TrashRefusal& refusal) {
    const ItemOutcome outcome = CleanupExecutor::outcome(refusal);
    return outcome.detail().value_or(std::string(CleanupExecutor::changedSentence));
}

std::optional<std::string> sameDatesAs(const FileSnapshot& original, const std::string& copy) {
    const timespec times[2] = {{0, UTIME_OMIT}, {original.modifiedSeconds, original.modifiedNanoseconds}};
    if (::utimensat(AT_FDCWD, copy.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return "dates";
    return std::nullopt;
}

} // namespace

VideoCompressor::VideoCompressor(const std::string& journalDirectory, std::shared_ptr<Trasher> trasher)
    : directory(journalDirectory + "/" + std::string(folderName)), trasher(std::move(trasher)) {}

std::optional<std::string> VideoCompressor::exportCopy(const std::string& path, const std::string& to,
                                                       const CancellationFlag& cancel,
                                                       const std::function<void(double)>& progress) {
    auto sentence = Movies::exportHevc(path, to, Movies::containerFor(path), [&] { return cancel.isCancelled(); }, progress);
    if (sentence && cancel.isCancelled()) return "Stopped.";
    return sentence;
}

std::optional<std::string> VideoCompressor::verify(const std::string& copy, const std::string& original,
                                                   std::int64_t originalSize) {
    const auto copySnapshot = FileSnapshot::read(copy);
    if (!copySnapshot) return "The compressed copy could not be read back.";
    if (copySnapshot->size == 0) return "The compressed copy was empty.";
    if (copySnapshot->size >= originalSize) return "The compressed copy was not smaller, so the original was kept.";
    const Movies::Playback playback = Movies::decodeFully(copy);
    if (!playback.decoded) return "The compressed copy could not be read back.";
    if (playback.videoTracks == 0) return "The compressed copy has no picture.";
    const auto source = Movies::read(original);
    if (!source) return std::string(cannotCheck);
    const double tolerance = std::max(0.01 * source->duration, 0.5);
    if (std::abs(playback.duration - source->duration) > tolerance) return "The compressed copy is not as long as the original.";
    if (source->audioTracks > 0 && playback.audioTracks == 0) return "The compressed copy lost its sound.";
    return std::nullopt;
}

CompressionOutcome VideoCompressor::replaceOne(const Job& job, const std::vector<std::string>& roots,
                                               const std::string& journal, const CancellationFlag& cancel) const {
    using Outcome = CompressionOutcome;
    const bool tidy = PathRules::standardized(job.path) == job.path;
    if (!tidy || std::none_of(roots.begin(), roots.end(), [&](const std::string& root) { return PathRules::isInside(job.path, root); }))
        return Outcome::skipped(std::string(outside));
    if (!PathRules::parentHasNoLinks(job.path)) return Outcome::skipped(std::string(folderAlias));
    const auto current = FileSnapshot::read(job.path);
    if (!current) return Outcome::skipped(std::string(gone));
    if (current->isDataless()) return Outcome::skipped(std::string(toCloud));
    if (!sameFile(*current, job.snapshot) || !current->isRegularFile) return Outcome::skipped(std::string(changed));
    if (current->linkCount != 1) return Outcome::skipped(std::string(hardLink));
    const std::string finalName = lastPathComponent(job.final);
    if (job.final != job.path && exists(job.final)) return Outcome::skipped("A file named " + finalName + " is already there.");

    const std::string temporary = temporaryPathFor(job.path);
    try {
        CompressionJournal::append(journal, {Entry::Step::intent, job.path, temporary, std::nullopt, job.snapshot.size,
                                             std::nullopt, now(), job.final});
    } catch (const std::exception&) {
        return Outcome::failed(std::string(recordFailed));
    }

    const auto made = job.make(temporary);
    if (cancel.isCancelled()) {
        discard(*trasher, temporary);
        return Outcome::skipped(std::string(stoppedDuring));
    }
    if (made) {
        discard(*trasher, temporary);
        return Outcome::failed(*made);
    }
    if (const auto refused = job.check(temporary)) {
        discard(*trasher, temporary);
        return Outcome::failed(*refused);
    }
    const auto again = FileSnapshot::read(job.path);
    if (!again || !sameFile(*again, job.snapshot)) {
        discard(*trasher, temporary);
        return Outcome::skipped(std::string(changedDuring));
    }
    (void)sameDatesAs(job.snapshot, temporary); // a copy with today's date is still a good copy

    std::string trashPath;
    try {
        trashPath = trasher->trashChecked(job.path, job.snapshot.identity).value_or(std::string());
    } catch (const TrashRefusal& refusal) {
        discard(*trasher, temporary);
        return Outcome::failed(explainRefusal(refusal));
    } catch (const std::exception& error) {
        discard(*trasher, temporary);
        return Outcome::failed(CleanupExecutor::explain(error));
    }
    try {
        CompressionJournal::append(journal, {Entry::Step::trashed, job.path, temporary, trashPath, std::nullopt,
                                             std::nullopt, std::nullopt, job.final});
    } catch (const std::exception&) {
        // The recovery finds the original gone from its place and treats the line as written.
    }

    if (moveWithoutReplacing(temporary, job.final) != 0) {
        if (exists(job.final)) return Outcome::skipped("A file named " + finalName + " appeared meanwhile.");
        putBack(trashPath, job.path);
        return Outcome::failed(std::string(nameTaken));
    }
    const auto placed = FileSnapshot::read(job.final);
    return Outcome::compressed(placed ? placed->size : 0, trashPath);
}

Result<CompressionReport, CompressionRefusal> VideoCompressor::compress(const CompressionPlan& plan,
                                                                        const CompressionApproval& approval,
                                                                        const CancellationFlag& cancel,
                                                                        const Progress& progress) const {
    std::vector<Planned> files;
    for (const VideoItem& video : plan.videos)
        files.push_back({video.path, video.snapshot.size, [&video, &cancel](const std::function<void(double)>& share) {
                             return Job{video.path, video.snapshot, video.path,
                                        [&, share](const std::string& temporary) {
                                            return exportCopy(video.path, temporary, cancel, share);
                                        },
                                        [&](const std::string& temporary) {
                                            return verify(temporary, video.path, video.snapshot.size);
                                        }};
                         }});
    return run(plan.id, approval, plan.roots, files, cancel, progress);
}

Result<CompressionReport, CompressionRefusal> VideoCompressor::run(const Uuid& planID, const CompressionApproval& approval,
                                                                   const std::vector<std::string>& roots,
                                                                   const std::vector<Planned>& files,
                                                                   const CancellationFlag& cancel,
                                                                   const Progress& progress) const {
    using Kind = CompressionRefusal::Kind;
    if (approval.planID != planID) return Unexpected{CompressionRefusal{Kind::approvalDoesNotMatch, {}}};
    const std::string url = CompressionJournal::pathFor(directory, planID);
    if (exists(url)) return Unexpected{CompressionRefusal{Kind::alreadyRun, {}}};
    const Timestamp started = now();
    try {
        CompressionJournal::create(url, started);
    } catch (const JournalError& error) {
        if (error.code() == EEXIST) return Unexpected{CompressionRefusal{Kind::alreadyRun, {}}};
        return Unexpected{CompressionRefusal{Kind::journalUnavailable, error.what()}};
    }
    // Held while the plan runs: another process's recovery must not settle a run that is alive.
    const auto running = FileLock::tryExclusive(url);

    std::int64_t totalBytes = 0;
    for (const Planned& file : files) totalBytes += file.size;
    CompressionProgress state{0, static_cast<std::int64_t>(files.size()), 0, 0, totalBytes};
    CompressionReport report{planID, started, {}, url};
    for (const Planned& file : files) {
        CompressionOutcome outcome;
        std::optional<std::string> final;
        if (cancel.isCancelled()) {
            outcome = CompressionOutcome::skipped(std::string(stoppedBefore));
        } else {
            const Job job = file.job([&](double fraction) {
                state.current = fraction;
                if (progress) progress(state);
            });
            if (job.final != job.path) final = job.final;
            outcome = replaceOne(job, roots, url, cancel);
        }
        try {
            CompressionJournal::append(url, {Entry::Step::done, file.path, std::nullopt, std::nullopt, file.size, outcome,
                                             std::nullopt, final});
        } catch (const std::exception&) {
            // The intent and trash lines still tell the recovery where the files are.
        }
        report.items.push_back({file.path, file.size, outcome, final});
        ++state.done;
        state.current = 0;
        state.bytesDone += file.size;
        if (progress) progress(state);
    }
    return report;
}

std::vector<CompressionReport> VideoCompressor::history() const {
    std::vector<CompressionReport> reports;
    DIR* folder = ::opendir(directory.c_str());
    if (folder == nullptr) return reports;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.starts_with(".") || lowercased(pathExtension(name)) != "jsonl") continue;
        if (auto report = CompressionJournal::report(directory + "/" + name)) reports.push_back(std::move(*report));
    }
    ::closedir(folder);
    std::sort(reports.begin(), reports.end(), [](const CompressionReport& a, const CompressionReport& b) {
        return a.started != b.started ? a.started > b.started : a.journalPath < b.journalPath;
    });
    return reports;
}

std::vector<CompressionReport> VideoCompressor::recoverInterrupted() const {
    std::vector<CompressionReport> recovered;
    for (const CompressionReport& found : history()) {
        // A journal whose run is alive in another process is that process's to finish.
        const auto settling = FileLock::tryExclusive(found.journalPath);
        if (settling.busy()) continue;
        std::map<std::string, Entry> open; // the last intent or trashed line of each unsettled path
        std::vector<std::string> order;
        for (const Entry& entry : CompressionJournal::entries(found.journalPath)) {
            if (!entry.path) continue;
            if (entry.step == Entry::Step::done) {
                open.erase(*entry.path);
            } else if (entry.step == Entry::Step::intent || entry.step == Entry::Step::trashed) {
                if (!open.contains(*entry.path)) order.push_back(*entry.path);
                auto& last = open[*entry.path];
                const auto size = entry.originalSize ? entry.originalSize : last.originalSize;
                last = entry;
                last.originalSize = size;
            }
        }
        bool settled = false;
        for (const std::string& path : order) {
            const auto unsettled = open.find(path);
            if (unsettled == open.end()) continue;
            const Entry& last = unsettled->second;
            const std::string temporary = last.temp.value_or(std::string());
            const std::string final = last.final.value_or(path);
            CompressionOutcome outcome;
            // An intent whose original is gone means the trash line was lost, not that nothing happened.
            const bool originalMoved = last.step == Entry::Step::trashed || !exists(path);
            if (!originalMoved) {
                discard(*trasher, temporary);
                outcome = CompressionOutcome::failed(std::string(interruptedBefore));
            } else if (!exists(temporary) && last.trash && exists(final)) {
                // Cut off after the swap: the copy has its name and the original is in the Trash.
                const auto placed = FileSnapshot::read(final);
                outcome = CompressionOutcome::compressed(placed ? placed->size : 0, *last.trash);
            } else {
                outcome = CompressionOutcome::failed("The app stopped mid-way. The compressed copy is at " + temporary +
                                                     " and the original is in the Trash.");
            }
            try {
                CompressionJournal::append(found.journalPath, {Entry::Step::done, path, std::nullopt, std::nullopt,
                                                               last.originalSize, outcome, std::nullopt, std::nullopt});
                settled = true;
            } catch (const std::exception&) {
            }
        }
        if (settled)
            if (auto report = CompressionJournal::report(found.journalPath)) recovered.push_back(std::move(*report));
    }
    return recovered;
}

std::optional<std::string> VideoCompressor::restoreOriginal(const CompressionItem& item, const CompressionReport& report) const {
    if (item.outcome.kind != CompressionOutcome::Kind::compressed) return "This one was not replaced.";
    const auto held = FileLock::tryExclusive(report.journalPath);
    if (held.busy()) return std::string(runningNow);
    const std::string& inTrash = item.outcome.originalInTrash;
    if (inTrash.empty() || !exists(inTrash)) return "The original is no longer in the Trash.";
    const std::string copy = item.replacedBy.value_or(item.path);
    if (const auto placed = FileSnapshot::read(copy)) {
        if (placed->size != item.outcome.newSize) return "The compressed copy was changed since, so it was left alone.";
        try {
            trasher->trashChecked(copy, placed->identity);
        } catch (const TrashRefusal& refusal) {
            return explainRefusal(refusal);
        } catch (const std::exception& error) {
            return CleanupExecutor::explain(error);
        }
    }
    if (exists(item.path)) return "Something else now has the original's name, so it was not put back.";
    const RestoreOutcome back = putBack(inTrash, item.path);
    if (back.kind != RestoreOutcome::Kind::restored)
        return "The original could not be put back: " +
               (back.kind == RestoreOutcome::Kind::failed ? back.text : std::string("it is not where the record says"));
    try {
        CompressionJournal::append(report.journalPath, {Entry::Step::done, item.path, std::nullopt, std::nullopt,
                                                        item.originalSize, CompressionOutcome::originalRestored(),
                                                        std::nullopt, std::nullopt});
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

} // namespace vp
