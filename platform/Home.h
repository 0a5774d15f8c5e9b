// The person's real home folder.
#pragma once

#include <string>

namespace vp {

/// The home folder of the real user's password entry, else $HOME; computed once.
const std::string& realHomeFolder();

/// The home Trash: $XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash (read each call, so a
/// test may point it into a temporary home).
std::string homeTrashFolder();

/// True for a folder name that holds a volume's Trash: ".Trash" or ".Trash-UID".
bool isVolumeTrashName(const std::string& name);

} // namespace vp
