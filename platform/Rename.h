// Moving a file to a new name without ever replacing what is already there.
#pragma once

#include <string>

namespace vp {

/// Renames `from` to `to` only when nothing exists at `to`: renameat2 with RENAME_NOREPLACE,
/// or, on a file system that refuses the flag, a hard link followed by removing the old name.
/// Never copies, so a destination on another file system fails with EXDEV. Returns 0 on
/// success, else the error number (EEXIST when `to` is taken); on failure `from` is untouched.
int renameWithoutReplacing(const std::string& from, const std::string& to);

} // namespace vp
