// Turning the engine's byte strings into what the window shows, and back.
#pragma once

#include "model/PhotoCleanupHost.h"

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

class QWidget;

namespace vp::gui {

/// Bold and/or larger text by font, not style sheet, so it follows theme changes.
void emphasise(QWidget& widget, double pointsLarger = 0, bool bold = true);

/// Text for a label. Valid UTF-8 is shown as it is; a name that is not UTF-8 shows its odd bytes
/// as \xNN, so two different names never look the same.
QString shown(std::string_view text);
/// A path with the home folder as "~".
QString shownPath(const PhotoCleanupHost& host, const std::string& path);
/// The exact bytes of a path a Qt dialog or a drop gave.
std::string pathBytes(const QString& path);
/// A path for Qt's own file functions (which take the bytes back through the locale's codec).
QString qtPath(const std::string& path);
/// "1.5 MB", "999 bytes": decimal units, as file managers show sizes.
QString bytesText(std::int64_t bytes);
/// "1 picture", "3 pictures".
QString countText(std::int64_t count, const char* one, const char* many);

} // namespace vp::gui
