// Paints one group of the results as a card: what the group is, which copy is suggested to keep
// and why, then a tile per picture with its thumbnail, mark, lock and notes. The same geometry
// answers where a click landed.
#pragma once

#include "GroupListModel.h"
#include "ThumbnailLoader.h"

#include <QRect>
#include <QStyledItemDelegate>

#include <optional>

namespace vp::gui {

/// Where everything of one group's card lies, for a card of a given width.
struct GroupLayout {
    static constexpr int thumbnailSide = 128;
    static constexpr int tileWidth = 152;
    static constexpr int tileHeight = thumbnailSide + 78;
    static constexpr int gap = 10;
    static constexpr int margin = 6;
    static constexpr int padding = 12;
    static constexpr int headerHeight = 46;
    static constexpr int checkSide = 22;

    explicit GroupLayout(QRect card);

    QRect card;
    int perRow = 1;
    QRect header() const;
    QRect markSuggestedLink() const;
    QRect clearMarksLink() const;
    QRect tile(int member) const;
    QRect thumbnail(int member) const;
    QRect markBox(int member) const;
    QRect lockBox(int member) const;
    static int height(int width, int members);

    enum class Part { none, tile, markBox, lockBox, markSuggested, clearMarks };
    struct Hit {
        Part part = Part::none;
        int member = -1;
    };
    Hit hit(QPoint point, int members) const;
};

class GroupDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    GroupDelegate(const GroupListModel& groups, ThumbnailLoader& thumbnails, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    /// The picture of the current group that has the keyboard focus.
    void setCurrentMember(int member) { m_currentMember = member; }
    int currentMember() const { return m_currentMember; }

private:
    void paintTile(QPainter& painter, const QStyleOptionViewItem& option, const GroupLayout& layout, int member,
                   const PhotoAsset& picture, bool isKeeper, bool isCurrent) const;

    const GroupListModel& m_groups;
    ThumbnailLoader& m_thumbnails;
    int m_currentMember = 0;
};

/// The tooltip of a picture: where it lives, its size and pixels, its hints and face notes.
QString pictureTooltip(const PhotoCleanupModel& model, const PhotoAsset& picture);
/// The group's headline: "3 identical copies · 2.4 MB" and so on.
QString groupTitle(const PhotoCleanupModel& model, const DuplicateGroup& group);

} // namespace vp::gui
