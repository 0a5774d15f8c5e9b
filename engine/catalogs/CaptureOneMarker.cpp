#include "CaptureOneMarker.h"

#include "SQLite.h"
#include "engine/common/Text.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <filesystem>
#include <map>
#include <sys/stat.h>

namespace vp {

std::string CaptureOneMarkRecord::name() const { return deletingPathExtension(lastPathComponent(catalogPath)); }

std::string CaptureOneMarker::Refusal::description() const {
    switch (kind) {
    case Kind::untestedVersion:
        return "This catalog is from a Capture One version this app has not been tested with (" + detail +
               "), so it was not changed.";
    case Kind::backupFailed: return std::string(CatalogMarking::backupFailedText) + detail;
    case Kind::writeFailed: return std::string(CatalogMarking::writeFailedText) + detail;
    case Kind::approvalDoesNotMatch: return std::string(CatalogMarking::approvalDoesNotMatchText);
    case Kind::notCaptureOnePhotos: return "Only photos from a Capture One catalog can be tagged there.";
    case Kind::captureOneOpen:
        return "Quit Capture One first. Its catalog is only changed while Capture One is closed.";
    }
    return detail;
}

CaptureOneMarker::CaptureOneMarker(std::string recordDirectory, OpenProbe isOpen)
    : m_recordDirectory(std::move(recordDirectory)), m_isOpen(std::move(isOpen)) {}

namespace {

using Refusal = CaptureOneMarker::Refusal;
using Kind = Refusal::Kind;

constexpr std::string_view inTrash = "Already in Capture One's Trash.";
constexpr std::string_view alreadyRed = "Already tagged Red in Capture One.";
constexpr std::string_view secondVariant = "It has a second variant now, so it is kept.";
constexpr std::string_view hasColourTag = "It has a colour tag now, so it is kept.";
constexpr std::string_view notWhereScanned = "Capture One's catalog did not have it where the scan saw it.";
const std::string red = std::to_string(CaptureOneCatalog::red);

std::optional<std::string_view> reasonToSkip(const PlannedRemoval& removal, const CaptureOnePhoto* photo) {
    if (photo == nullptr || photo->path != removal.path) return CatalogMarking::notAtThatPlace;
    if (!CatalogMarking::isUnchangedOnDisk(removal)) return CatalogMarking::changedSinceScan;
    if (photo->isTrashed) return inTrash;
    if (photo->ref.isRed()) return alreadyRed;
    if (photo->ref.variants > 1) return secondVariant;
    if (std::any_of(photo->ref.colorTags.begin(), photo->ref.colorTags.end(), [](int tag) { return tag != 0; }))
        return hasColourTag;
    if (!CatalogMarking::aKeeperIsUnchanged(removal)) return CatalogMarking::noKeeperUnchanged;
    return std::nullopt;
}

std::string joinedIDs(const std::vector<std::int64_t>& ids, std::string_view separator) {
    std::vector<std::string> texts;
    for (auto id : ids) texts.push_back(std::to_string(id));
    return joined(texts, separator);
}

} // namespace

Result<CaptureOneMarker::Report, Refusal> CaptureOneMarker::mark(const CleanupPlan& plan,
                                                                 const CleanupApproval& approval,
                                                                 const std::string& catalog, Timestamp now) const {
    if (approval.planID != plan.id) return Unexpected{Refusal{Kind::approvalDoesNotMatch, {}}};
    if (std::any_of(plan.removals.begin(), plan.removals.end(), [](const auto& r) { return !r.captureOneImageID; }))
        return Unexpected{Refusal{Kind::notCaptureOnePhotos, {}}};
    if (m_isOpen(catalog)) return Unexpected{Refusal{Kind::captureOneOpen, {}}};

    CaptureOneCatalog::Catalog fresh;
    try {
        fresh = CaptureOneCatalog::read(catalog);
    } catch (const CatalogReadError& error) {
        return Unexpected{Refusal{Kind::writeFailed, error.description()}};
    }
    if (!fresh.isTestedVersion()) return Unexpected{Refusal{Kind::untestedVersion, fresh.schemaVersion}};

    std::map<std::int64_t, const CaptureOnePhoto*> byID;
    for (const auto& photo : fresh.photos) byID.emplace(photo.ref.imageID, &photo);

    Report report;
    report.id = Uuid::random();
    std::vector<std::pair<const PlannedRemoval*, const CaptureOnePhoto*>> toTag;
    for (const auto& removal : plan.removals) {
        const auto found = byID.find(*removal.captureOneImageID);
        const CaptureOnePhoto* photo = found == byID.end() ? nullptr : found->second;
        if (const auto reason = reasonToSkip(removal, photo))
            report.skipped.push_back({removal.name(), std::string(*reason)});
        else
            toTag.emplace_back(&removal, photo);
    }
    if (toTag.empty()) return report;

    CaptureOneMarkRecord record;
    try {
        record.backupPath = backUp(catalog, now);
    } catch (const std::exception& error) {
        return Unexpected{Refusal{Kind::backupFailed, error.what()}};
    }
    record.id = Uuid::random();
    record.planID = plan.id;
    record.catalogPath = catalog;
    record.date = now;

    std::vector<std::string> marked;
    std::vector<MarkSkip> skipped;
    try {
        inOneTransaction(fresh.databaseURL, [&](SQLiteWriter& writer) {
            for (const auto& [removal, photo] : toTag) {
                const auto variant = std::to_string(photo->ref.variantID);
                const auto rows = writer.rows(
                    "SELECT m.Z_PK, m.ZCOLOR_TAG_INDEX FROM ZVARIANT v\n"
                    "JOIN ZVARIANTLAYER l ON l.Z_PK IN (v.ZADJUSTMENTLAYER, v.ZCOMBINEDSETTINGS)\n"
                    "JOIN ZVARIANTMETADATA m ON m.Z_PK = l.ZMETADATA\n"
                    "WHERE v.Z_PK = " + variant + " AND v.ZIMAGE = " + std::to_string(photo->ref.imageID) +
                    " ORDER BY l.Z_PK");
                CaptureOneMarkItem item{photo->ref.imageID, photo->ref.variantID, removal->path, {}, {}, {}};
                for (const auto& row : rows) {
                    const auto id = row.empty() ? std::nullopt : integerValue(row[0]);
                    if (!id) continue;
                    item.metadataIDs.push_back(*id);
                    const auto tag = row.size() > 1 ? integerValue(row[1]) : std::nullopt;
                    item.previousTags.push_back(tag ? std::optional<int>(static_cast<int>(*tag)) : std::nullopt);
                }
                // The adjustment layer's metadata and the combined settings' metadata: anything
                // else is a variant laid out in a way the scan did not see.
                if (item.metadataIDs.size() != 2) {
                    skipped.push_back({removal->name(), std::string(notWhereScanned)});
                    continue;
                }
                const auto modified =
                    writer.rows("SELECT ZLASTMETADATAMODIFICATIONDATE FROM ZVARIANT WHERE Z_PK = " + variant);
                if (!modified.empty() && !modified.front().empty() && modified.front().front())
                    if (const auto* seconds = std::get_if<double>(&*modified.front().front()))
                        item.previousModified = *seconds;
                writer.run("UPDATE ZVARIANTMETADATA SET ZCOLOR_TAG_INDEX = " + red + " WHERE Z_PK IN (" +
                           std::to_string(item.metadataIDs[0]) + ", " + std::to_string(item.metadataIDs[1]) + ")");
                writer.run("UPDATE ZVARIANT SET ZLASTMETADATAMODIFICATIONDATE = " +
                           CatalogFiles::sqlReal(CatalogFiles::referenceDateSeconds(now)) + " WHERE Z_PK = " + variant);
                record.marked.push_back(std::move(item));
                marked.push_back(removal->path);
            }
        });
    } catch (const SQLiteWriter::Failure& failure) {
        return Unexpected{Refusal{Kind::writeFailed, failure.description()}};
    }
    report.marked = std::move(marked);
    report.skipped.insert(report.skipped.end(), skipped.begin(), skipped.end());
    try {
        save(record);
    } catch (const std::exception&) {
        // The catalog is tagged already; the person still sees the report, only undo is lost.
    }
    report.record = std::move(record);
    return report;
}

Result<CaptureOneMarkRecord, Refusal> CaptureOneMarker::restore(const CaptureOneMarkRecord& record) const {
    // Undoing twice could take off a Red tag the person set again since.
    if (record.restored) return record;
    if (m_isOpen(record.catalogPath)) return Unexpected{Refusal{Kind::captureOneOpen, {}}};
    const auto database = CaptureOneCatalog::database(record.catalogPath);
    if (!database) return Unexpected{Refusal{Kind::writeFailed, "the catalog is no longer there"}};
    try {
        inOneTransaction(*database, [&](SQLiteWriter& writer) {
            for (const auto& item : record.marked) {
                if (item.metadataIDs.empty() || item.previousTags.size() != item.metadataIDs.size()) continue;
                const auto stillRed = writer.rows("SELECT COUNT(*) FROM ZVARIANTMETADATA WHERE Z_PK IN (" +
                                                  joinedIDs(item.metadataIDs, ",") + ") AND ZCOLOR_TAG_INDEX = " + red);
                const auto count = stillRed.empty() || stillRed.front().empty()
                                       ? std::nullopt
                                       : integerValue(stillRed.front().front());
                // The person changed the tag in Capture One since: theirs wins.
                if (count != static_cast<std::int64_t>(item.metadataIDs.size())) continue;
                for (std::size_t i = 0; i < item.metadataIDs.size(); ++i)
                    writer.run("UPDATE ZVARIANTMETADATA SET ZCOLOR_TAG_INDEX = " +
                               (item.previousTags[i] ? std::to_string(*item.previousTags[i]) : std::string("NULL")) +
                               " WHERE Z_PK = " + std::to_string(item.metadataIDs[i]));
                const auto previous =
                    item.previousModified ? CatalogFiles::sqlReal(*item.previousModified) : std::string("NULL");
                writer.run("UPDATE ZVARIANT SET ZLASTMETADATAMODIFICATIONDATE = " + previous + " WHERE Z_PK = " +
                           std::to_string(item.variantID));
            }
        });
    } catch (const SQLiteWriter::Failure& failure) {
        return Unexpected{Refusal{Kind::writeFailed, failure.description()}};
    }
    return CatalogMarking::restoredRecord(record, [this](const CaptureOneMarkRecord& restored) { save(restored); });
}

std::vector<CaptureOneMarkRecord> CaptureOneMarker::history() const {
    return CatalogMarking::readHistory<CaptureOneMarkRecord>(m_recordDirectory);
}

std::string CaptureOneMarker::backUp(const std::string& catalog, Timestamp now) {
    const auto database = CaptureOneCatalog::database(catalog);
    if (!database) throw std::runtime_error("the catalog's database is not in " + catalog);
    const std::string folder = CatalogFiles::backupFolderBeside(catalog);
    const std::string package =
        CatalogFiles::freeBackupPath(folder, deletingPathExtension(lastPathComponent(catalog)), now, ".cocatalog");
    if (::mkdir(package.c_str(), 0755) != 0)
        throw std::runtime_error("could not create " + package + ": " + std::generic_category().message(errno));
    copyDatabase(*database, CatalogFiles::join(package, lastPathComponent(*database)));
    return package;
}

void CaptureOneMarker::save(const CaptureOneMarkRecord& record) const {
    CatalogFiles::saveRecord(m_recordDirectory, record.id.text(), encodeJson(record));
}

} // namespace vp
