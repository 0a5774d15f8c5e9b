// A Shotwell library as the photo library: its photo.db (a SQLite database) over photo files on
// disk. Items are the rows of its photo table that are neither hidden nor in its trash; their
// resources are the photo file, the camera's JPEG of a RAW + JPEG pair, the file of an external
// edit and Shotwell's own edit recipe. A photo whose file sits on a drive that is not connected
// is "not here". Albums are Shotwell tags. Videos are the rows of its video table; a short movie
// with the pairing identifier beside a still of its name is that still's Live Photo movie, a
// resource of the photo rather than a video. The database is changed only while Shotwell is not
// running, inside one transaction, after a backup beside it.
#pragma once

#include "PhotoLibrary.h"
#include "engine/cleanup/Trasher.h"

#include <memory>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vp {

class ShotwellLibrary final : public PhotoLibraryMedia, public PhotoLibraryWriting, public PhotoLibraryReplacing {
public:
    /// True when a Shotwell that uses the database is running.
    using RunningProbe = std::function<bool(const std::string& database)>;

    inline static constexpr std::string_view runningText =
        "Quit Shotwell first. Its library is only changed while Shotwell is closed.";
    inline static constexpr std::string_view busyText = "Shotwell is busy with it. Try again in a moment.";
    inline static constexpr std::string_view notConnectedDetail = "on a drive that is not connected";

    /// `trasher` takes the originals that `replace` replaced (the desktop's Trash by default).
    explicit ShotwellLibrary(std::string database, RunningProbe isRunning = isShotwellRunning,
                             std::shared_ptr<Trasher> trasher = nullptr);

    /// $XDG_DATA_HOME/shotwell/data/photo.db (XDG_DATA_HOME defaults to ~/.local/share).
    static std::string defaultDatabase();
    /// Granted when the database can be read and written, restricted when only read, denied when
    /// it cannot be read, not asked when there is none.
    static Access access(const std::string& database);
    /// Why the database cannot serve as a library (not SQLite, not Shotwell's, laid out in a way
    /// this version does not know), in one sentence; none when it can.
    static std::optional<std::string> problem(const std::string& database);
    /// Looks at the running Shotwell processes and the data folder each one uses (its -d
    /// argument, else its own XDG_DATA_HOME or HOME); one whose folder cannot be told counts.
    static bool isShotwellRunning(const std::string& database);

    const std::string& database() const { return m_database; }

    Listing items(const CancellationFlag& cancel) const override;
    LibraryHash hash(const std::string& id, bool download, const ByteCallback& onBytes) const override;
    std::optional<Bitmap> preview(const std::string& id, int maxPixels) const override;
    std::optional<std::optional<Timestamp>> currentModified(const std::string& id) const override;
    std::string notLocalDetail() const override { return std::string(notConnectedDetail); }

    /// Adds the photos to the tag `name` (made when missing; for the review album a tag of a
    /// former name is renamed). Throws LibraryWriteError with the reason.
    std::vector<std::string> addToAlbum(const std::string& name, const std::vector<std::string>& ids) override;
    /// The photos carrying tag `name`, as identifiers; empty when there is no such tag.
    std::vector<std::string> tagged(const std::string& name) const;

    std::vector<LibraryVideoInfo> videos(const CancellationFlag& cancel) const override;
    std::optional<std::string> localVideoURL(const std::string& id) const override;
    std::optional<std::int64_t> pairedMovieSize(const std::string& id) const override;
    std::optional<StillData> stillData(const std::string& id) const override;

    /// Each new file goes beside its original under the name given (made free with " 2", " 3", ...),
    /// written under a hidden name first; in one transaction its row takes the original's dates,
    /// event, flags, rating and tags, and the original's row goes. Only then are the original
    /// files moved to the Trash. Throws LibraryWriteError; then the database is as it was and
    /// the new files are gone again.
    std::vector<std::string> replace(const std::vector<LibraryReplacement>& replacements) override;

    /// "thumb" and the row id in 16 hexadecimal digits, as Shotwell names its photos.
    static std::string photoID(std::int64_t row);
    static std::optional<std::int64_t> rowOf(std::string_view id);

private:
    void backUp() const;

    std::string m_database;
    RunningProbe m_isRunning;
    std::shared_ptr<Trasher> m_trasher;
};

} // namespace vp
