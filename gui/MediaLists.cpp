#include "MediaLists.h"

#include "Texts.h"

#include "engine/common/Text.h"

#include <QHeaderView>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>

namespace vp::gui {

QTreeWidget* makeMediaList(QWidget* parent, const QStringList& headers, const QString& name) {
    auto* list = new QTreeWidget(parent);
    list->setAccessibleName(name);
    list->setColumnCount(static_cast<int>(headers.size()));
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAlternatingRowColors(true);
    list->header()->setStretchLastSection(true);
    list->setColumnWidth(0, 240);
    // Numbers are right-aligned under right-aligned headings; the last column (folder or reason) takes the rest.
    for (int column = 1; column + 1 < list->columnCount(); ++column) {
        list->setColumnWidth(column, 88);
        list->headerItem()->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
    return list;
}

namespace {

QTreeWidgetItem* tickableRow(QTreeWidget* list, const QStringList& texts, const std::string& path, bool ticked) {
    auto* row = new QTreeWidgetItem(list, texts);
    row->setData(0, pathRole, QByteArray::fromStdString(path));
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    for (int column = 1; column < list->columnCount(); ++column)
        if (column + 1 < list->columnCount()) row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    return row;
}

/// A row that cannot be ticked, greyed, with why it is left alone in its last column.
QTreeWidgetItem* leftAloneRow(QTreeWidget* list, const QStringList& texts) {
    auto* row = new QTreeWidgetItem(list, texts);
    row->setFlags(row->flags() & ~Qt::ItemIsUserCheckable);
    const QBrush grey = list->palette().brush(QPalette::Disabled, QPalette::Text);
    for (int column = 0; column < list->columnCount(); ++column) {
        row->setForeground(column, grey);
        if (column + 1 < list->columnCount()) row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
    row->setToolTip(list->columnCount() - 1, texts.last());
    return row;
}

/// One line across an empty list, saying why it is empty.
void emptyRow(QTreeWidget* list, const QString& text) {
    if (list->topLevelItemCount() > 0) return;
    auto* row = leftAloneRow(list, {text});
    row->setFirstColumnSpanned(true);
}

QString pixels(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0) return QString::fromUtf8("—");
    return QString::fromUtf8("%1 × %2").arg(width).arg(height);
}

QString duration(double seconds) {
    const auto whole = static_cast<std::int64_t>(std::llround(seconds));
    return QString("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QChar('0'));
}

QString formatName(PhotoFormat format) {
    switch (format) {
    case PhotoFormat::jpeg: return "JPEG";
    case PhotoFormat::tiff: return "TIFF";
    case PhotoFormat::png: return "PNG";
    default: return QString::fromUtf8("—");
    }
}

} // namespace

std::string rowPath(const QTreeWidgetItem& row) { return row.data(0, pathRole).toByteArray().toStdString(); }

void fillVideoList(QTreeWidget* list, const MediaScan& scan, const PhotoCleanupHost& host) {
    list->clear();
    for (const auto& video : scan.videos) {
        const QStringList texts{shown(video.name()),
                                bytesText(video.snapshot.size),
                                pixels(video.width, video.height),
                                shown(video.codecName()),
                                duration(video.duration),
                                video.estimatedSize ? bytesText(video.estimatedSavings()) : QString::fromUtf8("—"),
                                video.leftAlone ? shown(*video.leftAlone) : shownPath(host, video.folder())};
        QTreeWidgetItem* row = video.isCandidate() ? tickableRow(list, texts, video.path, false) : leftAloneRow(list, texts);
        row->setToolTip(0, shownPath(host, video.path));
        if (video.estimatedSize)
            row->setToolTip(5, QString::fromUtf8("About %1 as HEVC").arg(bytesText(*video.estimatedSize)));
    }
    for (const auto& skipped : scan.skipped) {
        auto* row = leftAloneRow(list, {shown(lastPathComponent(skipped.path)), "", "", "", "", "",
                                            shown(skipped.detail.value_or("Could not be read"))});
        row->setToolTip(0, shownPath(host, skipped.path));
    }
    emptyRow(list, "No videos (.mov, .mp4 or .m4v) in these folders.");
}

void fillLivePhotoList(QTreeWidget* list, const MediaScan& scan, const PhotoCleanupHost& host) {
    list->clear();
    for (const auto& pair : scan.livePairs) {
        QTreeWidgetItem* row = tickableRow(list,
                                           {shown(pair.name()), bytesText(pair.movieSize()), shown(lastPathComponent(pair.movie)),
                                            shownPath(host, pair.still.substr(0, pair.still.rfind('/')))},
                                           pair.movie, false);
        row->setTextAlignment(2, Qt::AlignLeft | Qt::AlignVCenter);
        row->setToolTip(0, shownPath(host, pair.still));
        row->setToolTip(2, shownPath(host, pair.movie));
    }
    emptyRow(list, "No Live Photos in these folders: no photo with a short movie of its name beside it.");
}

void fillPhotoList(QTreeWidget* list, const ImageScan& scan, const PhotoCleanupHost& host) {
    list->clear();
    // Those worth converting first, the biggest saving first; then those left alone.
    std::vector<const ImageItem*> rows;
    for (const auto& image : scan.images) rows.push_back(&image);
    std::stable_sort(rows.begin(), rows.end(), [](const ImageItem* a, const ImageItem* b) {
        if (a->isCandidate() != b->isCandidate()) return a->isCandidate();
        return a->estimatedSavings() > b->estimatedSavings();
    });
    for (const ImageItem* image : rows) {
        QString saving = QString::fromUtf8("—");
        if (image->estimatedSize) saving = (image->measured ? "" : "about ") + bytesText(image->estimatedSavings());
        const QStringList texts{shown(image->name()), bytesText(image->snapshot.size), pixels(image->width, image->height),
                                formatName(image->format), saving,
                                image->leftAlone ? shown(*image->leftAlone) : shownPath(host, image->folder())};
        QTreeWidgetItem* row =
            image->isCandidate() ? tickableRow(list, texts, image->path, false) : leftAloneRow(list, texts);
        row->setToolTip(0, shownPath(host, image->path));
        if (image->estimatedSize)
            row->setToolTip(4, QString::fromUtf8("About %1 as HEIC%2")
                                   .arg(bytesText(*image->estimatedSize), image->measured ? " (measured on this photo)" : ""));
    }
    emptyRow(list, "No JPEG, TIFF or PNG photos in these folders.");
}

} // namespace vp::gui
