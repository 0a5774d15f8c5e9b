// Tagging approved copies Red inside a Capture One catalog, so the person reviews and deletes
// them in Capture One itself. The catalog changes only while Capture One is closed, only after a
// backup of its database beside it and only inside one immediate transaction; every tagging
// leaves a record from which it is undone.
#pragma once

#include "CaptureOneCatalog.h"
#include "CatalogMarking.h"
#include "engine/cleanup/CleanupPlan.h"
#include "engine/common/Result.h"
#include "engine/common/Uuid.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// A colour tag that may have been NULL is written as a number or null.
template <>
struct nlohmann::adl_serializer<std::optional<int>> {
    static void to_json(vp::Json& json, const std::optional<int>& value) {
        if (value)
            json = *value;
        else
            json = nullptr;
    }
    static void from_json(const vp::Json& json, std::optional<int>& value) {
        if (json.is_null())
            value.reset();
        else
            value = vp::detail::integerValue<int>(json, "");
    }
};

namespace vp {

struct CaptureOneMarkItem {
    std::int64_t imageID = 0;
    std::int64_t variantID = 0;
    std::string path;
    std::vector<std::int64_t> metadataIDs;     ///< the metadata rows that were tagged
    std::vector<std::optional<int>> previousTags; ///< one per metadata row; absent for none
    /// The variant's last metadata change before tagging, in seconds since 2001-01-01 UTC.
    std::optional<double> previousModified;

    VP_RECORD(imageID, variantID, path, metadataIDs, previousTags, previousModified)
    bool operator==(const CaptureOneMarkItem&) const = default;
};

/// One tagging: what was tagged, where the backup went, and whether it was undone.
struct CaptureOneMarkRecord {
    using Item = CaptureOneMarkItem;

    Uuid id;
    Uuid planID;
    std::string catalogPath; ///< the package
    std::string backupPath;  ///< the backup package
    Timestamp date;
    std::vector<Item> marked;
    bool restored = false;

    /// The catalog's file name without its extension.
    std::string name() const;

    VP_RECORD(id, planID, catalogPath, backupPath, date, marked, restored)
    bool operator==(const CaptureOneMarkRecord&) const = default;
};

class CaptureOneMarker {
public:
    struct Refusal {
        enum class Kind {
            untestedVersion,
            backupFailed,
            writeFailed,
            approvalDoesNotMatch,
            notCaptureOnePhotos,
            captureOneOpen,
        };
        Kind kind = Kind::writeFailed;
        std::string detail;

        std::string description() const;
        bool operator==(const Refusal&) const = default;
    };

    struct Report {
        Uuid id;
        std::optional<CaptureOneMarkRecord> record;
        std::vector<std::string> marked;
        std::vector<MarkSkip> skipped;
    };

    using OpenProbe = std::function<bool(const std::string&)>;

    /// The folder of the data folder that holds the records.
    static constexpr std::string_view recordFolderName = "Capture One";

    explicit CaptureOneMarker(std::string recordDirectory, OpenProbe isOpen = CaptureOneCatalog::isOpen);

    /// Never throws. Every refusal leaves the catalog as it was.
    Result<Report, Refusal> mark(const CleanupPlan& plan, const CleanupApproval& approval, const std::string& catalog,
                                 Timestamp now) const;
    /// Gives every photo whose tags all still read Red its earlier tags back. Never throws.
    Result<CaptureOneMarkRecord, Refusal> restore(const CaptureOneMarkRecord& record) const;
    std::vector<CaptureOneMarkRecord> history() const;

    /// A package in "Velmo Pristel Backups" beside the catalog holding a copy of its database
    /// only; its path. Throws SQLiteWriter::Failure or std::runtime_error.
    static std::string backUp(const std::string& catalog, Timestamp now);
    /// Throws std::runtime_error.
    void save(const CaptureOneMarkRecord& record) const;

    const std::string& recordDirectory() const { return m_recordDirectory; }

private:
    std::string m_recordDirectory;
    OpenProbe m_isOpen;
};

} // namespace vp
