// Marking approved copies Rejected inside a Lightroom Classic catalog, as pressing X there
// would, so the person deletes them in Lightroom Classic itself. The catalog changes only while
// Lightroom Classic is closed, only after a full backup beside it and only inside one immediate
// transaction; every marking leaves a record from which it is undone.
#pragma once

#include "CatalogMarking.h"
#include "LightroomCatalog.h"
#include "SQLite.h"
#include "engine/cleanup/CleanupPlan.h"
#include "engine/common/Result.h"
#include "engine/common/Uuid.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vp {

struct LightroomMarkItem {
    std::int64_t imageID = 0;
    std::string path;
    int previousPick = 0;

    VP_RECORD(imageID, path, previousPick)
    bool operator==(const LightroomMarkItem&) const = default;
};

/// One marking: what was rejected, where the backup went, and whether it was undone.
struct LightroomMarkRecord {
    using Item = LightroomMarkItem;

    Uuid id;
    Uuid planID;
    std::string catalogPath;
    std::string backupPath;
    Timestamp date;
    std::vector<Item> marked;
    bool restored = false;

    /// The catalog's file name.
    std::string name() const;

    VP_RECORD(id, planID, catalogPath, backupPath, date, marked, restored)
    bool operator==(const LightroomMarkRecord&) const = default;
};

class LightroomRejecter {
public:
    struct Refusal {
        enum class Kind {
            lightroomOpen,
            notLightroomPhotos,
            approvalDoesNotMatch,
            untestedVersion,
            backupFailed,
            writeFailed,
        };
        Kind kind = Kind::writeFailed;
        std::string detail; ///< the version, or what failed

        std::string description() const;
        bool operator==(const Refusal&) const = default;
    };

    struct Report {
        Uuid id;
        std::optional<LightroomMarkRecord> record;
        std::vector<std::string> marked;
        std::vector<MarkSkip> skipped;
        /// Always 0: space is only freed when the person deletes the rejected photos in Lightroom.
        std::int64_t bytesFreed = 0;
    };

    using OpenProbe = std::function<bool(const std::string&)>;

    /// The folder of the data folder that holds the records.
    static constexpr std::string_view recordFolderName = "Lightroom";

    /// `recordDirectory` is created when first needed.
    explicit LightroomRejecter(std::string recordDirectory, OpenProbe isOpen = LightroomCatalog::isOpen);

    /// Never throws. Every refusal leaves the catalog as it was.
    Result<Report, Refusal> mark(const CleanupPlan& plan, const CleanupApproval& approval, const std::string& catalog,
                                 Timestamp now) const;
    /// Gives each photo that is still rejected its earlier flag back; photos flagged otherwise
    /// since are left alone. Never throws.
    Result<LightroomMarkRecord, Refusal> restore(const LightroomMarkRecord& record) const;
    /// Every readable record, newest first.
    std::vector<LightroomMarkRecord> history() const;

    /// A full copy of the catalog in "Velmo Pristel Backups" beside it; its path. Throws
    /// SQLiteWriter::Failure or std::runtime_error.
    static std::string backUp(const std::string& catalog, Timestamp now);
    /// Throws std::runtime_error.
    void save(const LightroomMarkRecord& record) const;
    /// The online backup both catalog kinds are copied with (SQLite.h).
    static void copyDatabase(const std::string& from, const std::string& to) { vp::copyDatabase(from, to); }

    const std::string& recordDirectory() const { return m_recordDirectory; }

private:
    std::string m_recordDirectory;
    OpenProbe m_isOpen;
};

} // namespace vp
