// Showing a file in the desktop's file manager: the FileManager1 interface on the session bus
// selects it in its folder; without one, the folder is opened.
#pragma once

#include <QUrl>
#include <string>

namespace vp::gui {

/// file:// URL of a path's exact bytes (each byte outside the unreserved set percent-encoded).
QUrl fileUrl(const std::string& path);
/// True when a file manager was asked to show it.
bool showInFileManager(const std::string& path);

} // namespace vp::gui
