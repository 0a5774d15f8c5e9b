// Where the Trash folders are (the FreeDesktop.org Trash layout) and how to find a moved file
// in them by its identity, which a rename never changes.
#pragma once

#include "engine/scan/FileSnapshot.h"

#include <optional>
#include <string>
#include <vector>

namespace vp::TrashLocation {

/// The person's home folder from the password database, else $HOME; computed once.
const std::string& home();

/// The home Trash: $XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash (read each call, so a
/// test may point it into a temporary home).
std::string homeTrash();

/// The folder at the top of the file system that holds `path`: its mount point.
std::string topDirectory(const std::string& path);

/// $topdir/.Trash/$uid when $topdir/.Trash is a real folder (not a link) with the sticky bit,
/// which is what makes a shared Trash safe to use; else none.
std::optional<std::string> sharedVolumeTrash(const std::string& topDirectory);
/// $topdir/.Trash-$uid.
std::string ownVolumeTrash(const std::string& topDirectory);

/// The "files" folders a file from `path` can end up in: the home Trash's first; then, when the
/// file's folder is on another file system than the home Trash, that volume's Trash folders.
std::vector<std::string> candidates(const std::string& path);

/// The first entry (one level, links not followed) of the folders, in order, whose device and
/// inode equal `identity`; folders that cannot be listed are passed over.
std::optional<std::string> find(const FileIdentity& identity, const std::vector<std::string>& folders);

} // namespace vp::TrashLocation
