// The three lists of Shrink Videos & Photos, one row per file: a tick box for what is worth it,
// a greyed row with the reason for what is left alone, and a line saying why a list is empty.
// Each row keeps the file's exact path (its bytes, whatever their encoding) under `pathRole`.
#pragma once

#include "engine/media/ImageCompression.h"
#include "engine/media/MediaScan.h"
#include "model/PhotoCleanupHost.h"

#include <QStringList>

#include <string>

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace vp::gui {

inline constexpr int pathRole = Qt::UserRole;

/// A list with these column headings; the columns between the first and the last hold numbers.
QTreeWidget* makeMediaList(QWidget* parent, const QStringList& headers, const QString& name);
/// The path a row stands for; empty for a row of no file.
std::string rowPath(const QTreeWidgetItem& row);

/// Videos: size, pixels, codec, length and the estimated saving; the candidates unticked (the
/// caller ticks what the model has selected).
void fillVideoList(QTreeWidget* list, const MediaScan& scan, const PhotoCleanupHost& host);
/// Live Photos by their still, with the movie and its size; each row's path is the movie's.
void fillLivePhotoList(QTreeWidget* list, const MediaScan& scan, const PhotoCleanupHost& host);
/// JPEG, TIFF and PNG photos, those worth converting first, the biggest saving first.
void fillPhotoList(QTreeWidget* list, const ImageScan& scan, const PhotoCleanupHost& host);

} // namespace vp::gui
