// The durable record of one cleanup: one file per plan, JSON lines appended and forced to disk
// before and after each move. Reports, history, put-back notes and the recovery after a crash
// are all rebuilt from journals; nothing else about a cleanup is kept.
//
// A crash leaves at most one torn last line: readers skip any line that does not decode, and
// appenders first end a torn line so the next entry starts on a line of its own.
#pragma once

#include "CleanupPlan.h"
#include "CleanupReport.h"

#include "engine/common/Json.h"
#include "engine/common/Uuid.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vp {

/// A journal could not be created or written. `what()` is the system's text with the file.
class JournalError : public std::runtime_error {
public:
    JournalError(int code, std::string path);
    JournalError(std::string message, std::string path);
    /// The error number; 0 when the failure was not the system's.
    int code() const { return m_code; }
    const std::string& path() const { return m_path; }

private:
    int m_code = 0;
    std::string m_path;
};

/// One open journal, owning its writing descriptor. Move-only; used by one thread.
class CleanupJournal {
public:
    struct Entry {
        enum class Kind { plan, intent, outcome, finished, note };

        Kind kind = Kind::note;
        std::optional<CleanupPlan> plan;   ///< plan entries
        std::optional<std::string> itemID; ///< the planned picture's path: intent, outcome, note
        std::optional<ItemOutcome> outcome;
        std::optional<std::string> text; ///< note entries
        Timestamp at;

        static Entry planEntry(const CleanupPlan& plan, Timestamp at) { return {Kind::plan, plan, {}, {}, {}, at}; }
        static Entry intent(std::string itemID, Timestamp at) { return {Kind::intent, {}, std::move(itemID), {}, {}, at}; }
        static Entry outcomeEntry(std::string itemID, ItemOutcome outcome, Timestamp at) {
            return {Kind::outcome, {}, std::move(itemID), std::move(outcome), {}, at};
        }
        static Entry finished(Timestamp at) { return {Kind::finished, {}, {}, {}, {}, at}; }
        /// The finished entry written when the outcomes were worked out after an interruption.
        static Entry reconciledFinish(Timestamp at) {
            return {Kind::finished, {}, {}, {}, std::string(reconciledMark), at};
        }
        static constexpr std::string_view reconciledMark = "reconciled";
        static Entry note(std::string itemID, std::string text, Timestamp at) {
            return {Kind::note, {}, std::move(itemID), {}, std::move(text), at};
        }

        VP_RECORD(kind, plan, itemID, outcome, text, at)
        bool operator==(const Entry&) const = default;
    };

    /// What a journal says.
    struct Parsed {
        CleanupPlan plan;
        Timestamp started;
        std::set<std::string> intents;
        /// The last outcome entry of each item, with its date.
        std::map<std::string, std::pair<ItemOutcome, Timestamp>> outcomes;
        std::map<std::string, std::vector<std::string>> notes;
        std::optional<Timestamp> finished;
        /// Closed by reconciliation rather than by the cleanup itself.
        bool reconciled = false;

        bool operator==(const Parsed&) const = default;
    };

    /// Where the path of a moved picture might be found in the Trash.
    using TrashFolders = std::function<std::vector<std::string>(const std::string& path)>;

    /// The folder name the application keeps journals in, inside its data folder.
    static constexpr std::string_view folderName = "Cleanups";
    /// "cleanup-<PLAN-ID>.jsonl".
    static std::string fileName(const Uuid& planID);
    static std::string pathFor(const std::string& directory, const Uuid& planID);

    /// Creates `directory` when needed, creates the plan's journal exclusively (mode 0600) and
    /// writes the plan entry, all forced to disk. Throws JournalError; EEXIST when the plan has
    /// a journal already.
    CleanupJournal(const CleanupPlan& plan, const std::string& directory);
    ~CleanupJournal();
    CleanupJournal(CleanupJournal&& other) noexcept;
    CleanupJournal& operator=(CleanupJournal&&) = delete;
    CleanupJournal(const CleanupJournal&) = delete;
    CleanupJournal& operator=(const CleanupJournal&) = delete;

    const std::string& url() const { return m_url; }

    /// Appends one entry as a single write and forces it to disk before returning. Throws
    /// JournalError.
    void write(const Entry& entry);

    /// Open the existing journal at `url`, end a torn last line, add one entry. Throw JournalError
    /// (EWOULDBLOCK while the journal's cleanup is still running).
    static void append(const std::string& itemID, const ItemOutcome& outcome, const std::string& url);
    static void note(const std::string& itemID, const std::string& text, const std::string& url);

    /// Opens an existing journal for appending and holds its lock until dropped: nothing else
    /// writes to it meanwhile. Only a regular file is opened. Throws JournalError, EWOULDBLOCK
    /// when another open file (a running cleanup, a put-back) holds the journal.
    static CleanupJournal openForAppending(const std::string& url);

    /// The largest journal read back: about a million planned pictures.
    static constexpr std::int64_t largestJournal = std::int64_t{1} << 31;

    /// None when the file cannot be read or holds no readable plan entry. Lines that do not
    /// decode are passed over.
    static std::optional<Parsed> parse(const std::string& url);
    static std::optional<Parsed> parseText(std::string_view text);

    /// One item per planned picture, in plan order; none when the journal does not parse.
    static std::optional<CleanupReport> report(const std::string& url);
    static CleanupReport report(const Parsed& parsed, const std::string& url);

    /// The reports of every readable journal in `folder`, newest start first.
    static std::vector<CleanupReport> history(const std::string& folder);
    /// The journals in `folder` that parse and have no finished entry, in listing order.
    static std::vector<std::string> unfinished(const std::string& folder);

    /// Works out where each picture of an interrupted cleanup is now, records it, closes the
    /// journal and returns its report marked reconciled; none when the journal does not parse or
    /// its cleanup is still running in another process (it holds the journal's lock). A picture
    /// the journal has no word of is looked for in the Trash all the same, so a damaged journal
    /// never hides a move; a Trash record left without its file by an interrupted move of a
    /// planned picture is removed.
    /// Pictures that already have an outcome keep it; nothing is moved. Running it twice gives
    /// the same report and changes nothing the second time.
    static std::optional<CleanupReport> reconcile(const std::string& url, const TrashFolders& trashFolders);
    /// With the Trash folders of TrashLocation::candidates.
    static std::optional<CleanupReport> reconcile(const std::string& url);

    /// Sentences of reports rebuilt from a journal.
    static constexpr std::string_view stoppedWhileMoving = "The app stopped while moving this picture.";
    static constexpr std::string_view notAttempted = "Not attempted: the cleanup stopped before reaching it.";
    static constexpr std::string_view stillInPlace = "The app stopped before moving it; it is still in place.";
    static constexpr std::string_view lostWhileMoving =
        "The app stopped while moving this picture. It is no longer in its folder and was not found in the "
        "Trash this app can see \u2014 look in the Trash.";

private:
    /// Adopts a descriptor opened for appending.
    CleanupJournal(int fd, std::string url) : m_fd(fd), m_url(std::move(url)) {}

    int m_fd = -1;
    std::string m_url;
};

template <>
struct EnumStrings<CleanupJournal::Entry::Kind> {
    static constexpr std::array cases{
        std::pair{CleanupJournal::Entry::Kind::plan, std::string_view("plan")},
        std::pair{CleanupJournal::Entry::Kind::intent, std::string_view("intent")},
        std::pair{CleanupJournal::Entry::Kind::outcome, std::string_view("outcome")},
        std::pair{CleanupJournal::Entry::Kind::finished, std::string_view("finished")},
        std::pair{CleanupJournal::Entry::Kind::note, std::string_view("note")},
    };
};

} // namespace vp
