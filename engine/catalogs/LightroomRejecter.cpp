#include "LightroomRejecter.h"

#include "SQLite.h"
#include "engine/common/Text.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <cstring>
#include <map>
#include <sys/stat.h>

namespace vp {

std::string LightroomMarkRecord::name() const { return lastPathComponent(catalogPath); }

std::string LightroomRejecter::Refusal::description() const {
    switch (kind) {
    case Kind::lightroomOpen:
        return "Quit Lightroom Classic first. Its catalog is only changed while Lightroom is closed.";
    case Kind::notLightroomPhotos: return "Only photos from a Lightroom Classic catalog can be marked Rejected.";
    case Kind::approvalDoesNotMatch: return std::string(CatalogMarking::approvalDoesNotMatchText);
    case Kind::untestedVersion:
        return "This catalog is from a Lightroom Classic version this app has not been tested with (" + detail +
               "), so it was not changed.";
    case Kind::backupFailed: return std::string(CatalogMarking::backupFailedText) + detail;
    case Kind::writeFailed: return std::string(CatalogMarking::writeFailedText) + detail;
    }
    return detail;
}

LightroomRejecter::LightroomRejecter(std::string recordDirectory, OpenProbe isOpen)
    : m_recordDirectory(std::move(recordDirectory)), m_isOpen(std::move(isOpen)) {}

namespace {

using Refusal = LightroomRejecter::Refusal;
using Kind = Refusal::Kind;

constexpr std::string_view alreadyRejected = "Already Rejected in Lightroom.";
constexpr std::string_view hasVirtualCopy = "It has a virtual copy now, so it is kept.";
constexpr std::string_view notWhereScanned = "Lightroom's catalog did not have it where the scan saw it.";

struct ToMark {
    const PlannedRemoval* removal;
    const LightroomPhoto* photo;
};

/// The first rule that keeps the photo as it is, or nothing when it may be marked.
std::optional<std::string_view> reasonToSkip(const PlannedRemoval& removal, const LightroomPhoto* photo) {
    if (photo == nullptr || photo->path != removal.path) return CatalogMarking::notAtThatPlace;
    if (!CatalogMarking::isUnchangedOnDisk(removal)) return CatalogMarking::changedSinceScan;
    if (photo->ref.pick < 0) return alreadyRejected;
    if (photo->ref.virtualCopies > 0) return hasVirtualCopy;
    if (!CatalogMarking::aKeeperIsUnchanged(removal)) return CatalogMarking::noKeeperUnchanged;
    return std::nullopt;
}

} // namespace

Result<LightroomRejecter::Report, Refusal> LightroomRejecter::mark(const CleanupPlan& plan,
                                                                   const CleanupApproval& approval,
                                                                   const std::string& catalog, Timestamp now) const {
    if (approval.planID != plan.id) return Unexpected{Refusal{Kind::approvalDoesNotMatch, {}}};
    if (plan.removals.empty() ||
        std::any_of(plan.removals.begin(), plan.removals.end(), [](const auto& r) { return !r.lightroomImageID; }))
        return Unexpected{Refusal{Kind::notLightroomPhotos, {}}};
    if (m_isOpen(catalog)) return Unexpected{Refusal{Kind::lightroomOpen, {}}};

    LightroomCatalog::Catalog fresh;
    try {
        fresh = LightroomCatalog::read(catalog);
    } catch (const CatalogReadError& error) {
        return Unexpected{Refusal{Kind::writeFailed, error.description()}};
    }
    if (!fresh.isTestedVersion()) return Unexpected{Refusal{Kind::untestedVersion, fresh.schemaVersion}};

    std::map<std::int64_t, const LightroomPhoto*> byID;
    for (const auto& photo : fresh.photos) byID.emplace(photo.ref.imageID, &photo);

    Report report;
    report.id = Uuid::random();
    std::vector<ToMark> toMark;
    for (const auto& removal : plan.removals) {
        const auto found = byID.find(*removal.lightroomImageID);
        const LightroomPhoto* photo = found == byID.end() ? nullptr : found->second;
        if (const auto reason = reasonToSkip(removal, photo))
            report.skipped.push_back({removal.name(), std::string(*reason)});
        else
            toMark.push_back({&removal, photo});
    }
    if (toMark.empty()) return report;

    LightroomMarkRecord record;
    try {
        record.backupPath = backUp(catalog, now);
    } catch (const std::exception& error) {
        return Unexpected{Refusal{Kind::backupFailed, error.what()}};
    }

    try {
        inOneTransaction(catalog, [&](SQLiteWriter& writer) {
            for (const auto& [removal, photo] : toMark) {
                const auto id = std::to_string(photo->ref.imageID);
                if (writer.run("UPDATE Adobe_images SET pick = -1.0 WHERE id_local = " + id +
                               " AND masterImage IS NULL") == 1) {
                    record.marked.push_back({photo->ref.imageID, removal->path, photo->ref.pick});
                    report.marked.push_back(removal->path);
                } else {
                    report.skipped.push_back({removal->name(), std::string(notWhereScanned)});
                }
            }
        });
    } catch (const SQLiteWriter::Failure& failure) {
        return Unexpected{Refusal{Kind::writeFailed, failure.description()}};
    }

    record.id = Uuid::random();
    record.planID = plan.id;
    record.catalogPath = catalog;
    record.date = now;
    try {
        save(record);
    } catch (const std::exception&) {
        // The catalog is marked already; the person still sees the report, only undo is lost.
    }
    report.record = std::move(record);
    return report;
}

Result<LightroomMarkRecord, Refusal> LightroomRejecter::restore(const LightroomMarkRecord& record) const {
    // Undoing twice could clear a Rejected flag the person set again since.
    if (record.restored) return record;
    if (m_isOpen(record.catalogPath)) return Unexpected{Refusal{Kind::lightroomOpen, {}}};
    try {
        inOneTransaction(record.catalogPath, [&](SQLiteWriter& writer) {
            for (const auto& item : record.marked)
                writer.run("UPDATE Adobe_images SET pick = " + std::to_string(item.previousPick) +
                           " WHERE id_local = " + std::to_string(item.imageID) + " AND pick < 0");
        });
    } catch (const SQLiteWriter::Failure& failure) {
        return Unexpected{Refusal{Kind::writeFailed, failure.description()}};
    }
    return CatalogMarking::restoredRecord(record, [this](const LightroomMarkRecord& restored) { save(restored); });
}

std::vector<LightroomMarkRecord> LightroomRejecter::history() const {
    return CatalogMarking::readHistory<LightroomMarkRecord>(m_recordDirectory);
}

std::string LightroomRejecter::backUp(const std::string& catalog, Timestamp now) {
    const std::string folder = CatalogFiles::backupFolderBeside(catalog);
    const std::string backup =
        CatalogFiles::freeBackupPath(folder, deletingPathExtension(lastPathComponent(catalog)), now, ".lrcat");
    copyDatabase(catalog, backup);
    return backup;
}

void LightroomRejecter::save(const LightroomMarkRecord& record) const {
    CatalogFiles::saveRecord(m_recordDirectory, record.id.text(), encodeJson(record));
}

} // namespace vp
