// Replacing a small file so that a reader, or the next run after a crash, sees either the old
// content or the new one, never a mix or a truncated file.
#pragma once

#include <string>
#include <string_view>

namespace vp::AtomicFile {

/// Writes `content` to a hidden temporary file beside `path`, forces it to disk and renames it
/// over `path`; the folder is forced too, so the rename itself survives a crash. Creates the
/// folders above `path` when they are missing. On failure `path` is left as it was and the
/// temporary file removed; the answer is the system's words for what failed, empty on success.
std::string write(const std::string& path, std::string_view content);

} // namespace vp::AtomicFile
