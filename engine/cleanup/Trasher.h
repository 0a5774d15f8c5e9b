// Moving one file to the Trash. An interface so tests can make the move fail the ways a real
// system does (read-only drive, full disk, no permission, another device).
#pragma once

#include <optional>
#include <string>

namespace vp {

class Trasher {
public:
    virtual ~Trasher() = default;
    /// Moves the item at `path` to the Trash and returns the path it now has there, or none when
    /// that is not known. Throws std::system_error carrying the error number on failure; the
    /// item is then where it was.
    virtual std::optional<std::string> trash(const std::string& path) = 0;
};

/// The desktop's own Trash, laid out as the FreeDesktop.org Trash standard says, so file
/// managers list what was moved and can put it back too. The item is renamed into the Trash of
/// its own file system, never copied; its `.trashinfo` is written first, so no file ever sits in
/// the Trash without the record of where it came from.
class FileManagerTrasher final : public Trasher {
public:
    std::optional<std::string> trash(const std::string& path) override;
};

} // namespace vp
