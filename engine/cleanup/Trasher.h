// Moving one file to the Trash. An interface so tests can make the move fail the ways a real
// system does (read-only drive, full disk, no permission, another device).
#pragma once

#include "engine/scan/FileSnapshot.h"

#include <optional>
#include <stdexcept>
#include <string>

namespace vp {

/// Why a guarded move did not put the planned file in the Trash, beyond a plain system error.
class TrashRefusal : public std::runtime_error {
public:
    enum class Kind {
        folderReplaced,   ///< a folder on the way is a link now, or is gone
        changed,          ///< another file stands at the path; nothing moved, or it was moved back
        stranded,         ///< another file reached the Trash and could not go back; `where` holds it
        trashUnavailable, ///< the Trash itself cannot take files; `where` is the Trash
    };
    TrashRefusal(Kind kind, std::string where, std::string reason);
    Kind kind() const { return m_kind; }
    const std::string& where() const { return m_where; }
    const std::string& reason() const { return m_reason; }

private:
    Kind m_kind;
    std::string m_where;
    std::string m_reason;
};

class Trasher {
public:
    virtual ~Trasher() = default;

    /// Moves the item at `path` to the Trash and returns the path it now has there, or none when
    /// that is not known. Throws std::system_error carrying the error number on failure; the
    /// item is then where it was.
    virtual std::optional<std::string> trash(const std::string& path) = 0;

    /// The same, but only the very file `expected`: the move happens relative to folders reached
    /// without following links, and the moved item is checked afterwards; anything else goes
    /// back where it was. Throws TrashRefusal for those cases. Substitutes that cannot do better
    /// simply move the path.
    virtual std::optional<std::string> trashChecked(const std::string& path, const FileIdentity& expected) {
        (void)expected;
        return trash(path);
    }
};

/// The desktop's own Trash, laid out as the FreeDesktop.org Trash standard says, so file
/// managers list what was moved and can put it back too. The item is renamed into the Trash of
/// its own file system, never copied; its `.trashinfo` is written first, so no file ever sits in
/// the Trash without the record of where it came from, and both Trash folders are forced to disk
/// after the move.
class FileManagerTrasher : public Trasher {
public:
    std::optional<std::string> trash(const std::string& path) override;
    std::optional<std::string> trashChecked(const std::string& path, const FileIdentity& expected) override;

protected:
    /// Called after the last check and just before the rename; a test widens the race there.
    virtual void beforeRename(const std::string& path) { (void)path; }

private:
    std::optional<std::string> move(const std::string& path, const std::optional<FileIdentity>& expected);
};

/// The longest name an entry of a Trash's files/ folder may have, so that its record in info/
/// (the same name plus ".trashinfo") still fits the file system's 255 bytes.
inline constexpr std::size_t longestTrashName = 245;

} // namespace vp
