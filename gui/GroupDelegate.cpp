#include "GroupDelegate.h"

#include "Texts.h"

#include "engine/common/Text.h"
#include "engine/review/KeeperPolicy.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

namespace vp::gui {

// ---- Geometry

GroupLayout::GroupLayout(QRect cardRect) : card(cardRect.adjusted(margin, margin / 2, -margin, -margin / 2)) {
    perRow = std::max(1, (card.width() - 2 * padding + gap) / (tileWidth + gap));
}

int GroupLayout::height(int width, int members) {
    const GroupLayout layout(QRect(0, 0, width, 0));
    const int rows = (std::max(1, members) + layout.perRow - 1) / layout.perRow;
    return margin + padding + headerHeight + rows * tileHeight + (rows - 1) * gap + padding;
}

QRect GroupLayout::header() const {
    return QRect(card.left() + padding, card.top() + padding / 2, card.width() - 2 * padding, headerHeight);
}

QRect GroupLayout::clearMarksLink() const {
    const QRect head = header();
    return QRect(head.right() - 90, head.top() + 2, 90, 20);
}

QRect GroupLayout::markSuggestedLink() const {
    const QRect clear = clearMarksLink();
    return QRect(clear.left() - 130, clear.top(), 124, 20);
}

QRect GroupLayout::tile(int member) const {
    const int row = member / perRow;
    const int column = member % perRow;
    return QRect(card.left() + padding + column * (tileWidth + gap),
                 card.top() + padding / 2 + headerHeight + row * (tileHeight + gap), tileWidth, tileHeight);
}

QRect GroupLayout::thumbnail(int member) const {
    const QRect whole = tile(member);
    return QRect(whole.left() + (tileWidth - thumbnailSide) / 2, whole.top() + 4, thumbnailSide, thumbnailSide);
}

QRect GroupLayout::markBox(int member) const {
    const QRect picture = thumbnail(member);
    return QRect(picture.left() + 4, picture.top() + 4, checkSide, checkSide);
}

QRect GroupLayout::lockBox(int member) const {
    const QRect picture = thumbnail(member);
    return QRect(picture.right() - 4 - checkSide, picture.top() + 4, checkSide, checkSide);
}

GroupLayout::Hit GroupLayout::hit(QPoint point, int members) const {
    if (markSuggestedLink().contains(point)) return {Part::markSuggested, -1};
    if (clearMarksLink().contains(point)) return {Part::clearMarks, -1};
    for (int member = 0; member < members; ++member) {
        if (markBox(member).adjusted(-3, -3, 3, 3).contains(point)) return {Part::markBox, member};
        if (lockBox(member).adjusted(-3, -3, 3, 3).contains(point)) return {Part::lockBox, member};
        if (tile(member).contains(point)) return {Part::tile, member};
    }
    return {};
}

// ---- Texts

QString groupTitle(const PhotoCleanupModel& model, const DuplicateGroup& group) {
    const auto count = static_cast<std::int64_t>(group.members.size());
    switch (group.kind) {
    case MatchKind::identical:
        return countText(count, "identical copy", "identical copies") + QString::fromUtf8(" · ") +
               bytesText(group.extraBytes()) +
               // Marking in a catalog or gathering in the review album frees nothing by itself.
               (model.scope() == Scope::folders ? " could be freed" : " in extra copies");
    case MatchKind::similar: {
        QString title = countText(count, "similar photo", "similar photos");
        const auto identical = model.identicalCopies(group);
        if (identical.allOnePicture)
            title += QString::fromUtf8(" · all identical");
        else if (identical.count > 0)
            title += QString::fromUtf8(" · ") + QString::number(identical.count) + " identical";
        return title;
    }
    case MatchKind::series: return countText(count, "shot", "shots") + " taken seconds apart";
    case MatchKind::liveMovie: return countText(count, "Live Photo half", "Live Photo halves");
    }
    return {};
}

QString pictureTooltip(const PhotoCleanupModel& model, const PhotoAsset& picture) {
    QStringList lines;
    lines << shownPath(model.host(), picture.path);
    QString facts = bytesText(picture.snapshot.size);
    if (picture.pixelWidth && picture.pixelHeight)
        facts += QString::fromUtf8(" · %1 × %2").arg(*picture.pixelWidth).arg(*picture.pixelHeight);
    if (const auto score = model.qualityScores().find(picture.path); score != model.qualityScores().end())
        facts += QString::fromUtf8(" · quality %1").arg(score->second);
    lines << facts;
    if (picture.volumeName) lines << "On " + shown(*picture.volumeName) + (picture.isExternalVolume ? " (external drive)" : "");
    if (const auto hint = model.hints().find(picture.path); hint != model.hints().end()) lines << shown(hint->second);
    if (const auto note = model.faceNotes().find(picture.path); note != model.faceNotes().end()) lines << shown(note->second);
    if (const auto reason = picture.fixedKeepReason()) lines << shown(*reason);
    return lines.join('\n');
}

// ---- Painting

GroupDelegate::GroupDelegate(const GroupListModel& groups, ThumbnailLoader& thumbnails, QObject* parent)
    : QStyledItemDelegate(parent), m_groups(groups), m_thumbnails(thumbnails) {}

QSize GroupDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const DuplicateGroup* group = m_groups.group(index.row());
    const int members = group ? static_cast<int>(group->members.size()) : 1;
    const int width = std::max(option.rect.width(), GroupLayout::tileWidth + 2 * GroupLayout::padding);
    return QSize(width, GroupLayout::height(width, members));
}

void GroupDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const DuplicateGroup* group = m_groups.group(index.row());
    const auto& session = m_groups.model().session();
    if (!group || !session) return;
    const GroupLayout layout(option.rect);
    const QPalette& palette = option.palette;
    const bool isCurrent = option.state.testFlag(QStyle::State_HasFocus) || option.state.testFlag(QStyle::State_Selected);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath cardShape;
    cardShape.addRoundedRect(layout.card, 8, 8);
    painter->fillPath(cardShape, palette.color(QPalette::Base));
    painter->setPen(QPen(isCurrent ? palette.color(QPalette::Highlight) : palette.color(QPalette::Mid), isCurrent ? 2 : 1));
    painter->drawPath(cardShape);

    // Header: what the group is, and the suggestion with its reason.
    const auto& header = m_groups.header(index.row());
    const QRect head = layout.header();
    QFont bold = option.font;
    bold.setBold(true);
    painter->setFont(bold);
    painter->setPen(palette.color(QPalette::Text));
    painter->drawText(QRect(head.left(), head.top(), head.width() - 230, 22), Qt::AlignLeft | Qt::AlignVCenter,
                      header.title);
    painter->setFont(option.font);
    const QString& keep = header.keep;
    painter->setPen(palette.color(QPalette::PlaceholderText));
    painter->drawText(QRect(head.left(), head.top() + 22, head.width(), 20), Qt::AlignLeft | Qt::AlignVCenter,
                      painter->fontMetrics().elidedText(keep, Qt::ElideMiddle, head.width()));
    painter->setPen(palette.color(QPalette::Link));
    painter->drawText(layout.markSuggestedLink(), Qt::AlignRight | Qt::AlignVCenter, "Mark Suggested");
    painter->drawText(layout.clearMarksLink(), Qt::AlignRight | Qt::AlignVCenter, "Clear Marks");

    for (int member = 0; member < static_cast<int>(group->members.size()); ++member) {
        const PhotoAsset& picture = group->members[static_cast<std::size_t>(member)];
        paintTile(*painter, option, layout, member, picture, picture.path == header.keeperPath,
                  isCurrent && member == m_currentMember);
    }
    painter->restore();
}

void GroupDelegate::paintTile(QPainter& painter, const QStyleOptionViewItem& option, const GroupLayout& layout, int member,
                              const PhotoAsset& picture, bool isKeeper, bool isCurrent) const {
    const PhotoCleanupModel& model = m_groups.model();
    const auto& session = *model.session();
    const QPalette& palette = option.palette;
    const bool marked = session.isMarked(picture.path);
    const bool locked = session.isLocked(picture.path);
    const QRect tile = layout.tile(member);
    const QRect frame = layout.thumbnail(member);

    if (isCurrent) {
        painter.setPen(QPen(palette.color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(tile.adjusted(1, 1, -1, -1), 6, 6);
    }

    // The thumbnail, fitted into its square; a grey square while it decodes.
    QImage image;
    const auto state = m_thumbnails.thumbnail(picture.path, image);
    painter.fillRect(frame, palette.color(QPalette::AlternateBase));
    if (state == ThumbnailLoader::State::ready) {
        // Already scaled to fit by the loader: drawn at its own size, a plain copy.
        const QSize fitted = (image.deviceIndependentSize().toSize()).boundedTo(frame.size());
        const QRect target(frame.left() + (frame.width() - fitted.width()) / 2,
                           frame.top() + (frame.height() - fitted.height()) / 2, fitted.width(), fitted.height());
        painter.setOpacity(marked ? 0.45 : 1.0);
        painter.drawImage(target, image);
        painter.setOpacity(1.0);
    } else if (state == ThumbnailLoader::State::failed) {
        painter.setPen(palette.color(QPalette::PlaceholderText));
        painter.drawText(frame, Qt::AlignCenter | Qt::TextWordWrap, "No preview");
    }

    // Marked copies are framed in red; the suggested keeper carries a badge.
    const QColor markColour(0xd0, 0x3b, 0x2f);
    const QColor keepColour(0x2e, 0x8b, 0x57);
    if (marked) {
        painter.setPen(QPen(markColour, 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(frame.adjusted(1, 1, -2, -2));
    }
    const QRect badge(frame.left() + 4, frame.bottom() - 22, 0, 18);
    const QString badgeText = marked ? "To Trash" : (isKeeper ? "Keep" : QString());
    if (!badgeText.isEmpty()) {
        const int width = painter.fontMetrics().horizontalAdvance(badgeText) + 12;
        const QRect area(badge.left(), badge.top(), width, badge.height());
        painter.setPen(Qt::NoPen);
        painter.setBrush(marked ? markColour : keepColour);
        painter.drawRoundedRect(area, 4, 4);
        painter.setPen(Qt::white);
        painter.drawText(area, Qt::AlignCenter, badgeText);
    }

    // The mark box and the lock.
    const QRect box = layout.markBox(member);
    painter.setPen(QPen(marked ? markColour : QColor(255, 255, 255, 230), 2));
    painter.setBrush(marked ? markColour : QColor(0, 0, 0, 70));
    painter.drawRoundedRect(box, 4, 4);
    if (marked) {
        painter.setPen(QPen(Qt::white, 2.4));
        painter.drawLine(box.left() + 5, box.center().y(), box.center().x() - 1, box.bottom() - 5);
        painter.drawLine(box.center().x() - 1, box.bottom() - 5, box.right() - 4, box.top() + 5);
    }
    const QRect lock = layout.lockBox(member);
    painter.setPen(Qt::NoPen);
    painter.setBrush(locked ? QColor(0x1f, 0x6f, 0xd1) : QColor(0, 0, 0, 70));
    painter.drawRoundedRect(lock, 4, 4);
    painter.setPen(QPen(QColor(255, 255, 255, locked ? 255 : 200), 1.8));
    painter.setBrush(Qt::NoBrush);
    const QRect body(lock.left() + 6, lock.top() + 10, lock.width() - 12, lock.height() - 15);
    painter.drawRect(body);
    painter.drawArc(QRect(body.left() + 2, lock.top() + 4, body.width() - 4, 12), 0, locked ? 180 * 16 : 150 * 16);

    // Three lines: name, facts, and the first note worth reading.
    const int textWidth = tile.width() - 8;
    QRect line(tile.left() + 4, frame.bottom() + 4, textWidth, 18);
    painter.setPen(palette.color(QPalette::Text));
    painter.drawText(line, Qt::AlignHCenter | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(shown(picture.name()), Qt::ElideMiddle, textWidth));
    QString facts = bytesText(picture.snapshot.size);
    if (picture.pixelWidth && picture.pixelHeight)
        facts = QString::fromUtf8("%1×%2 · ").arg(*picture.pixelWidth).arg(*picture.pixelHeight) + facts;
    // Copies often share a name: the folder tells them apart.
    line.translate(0, 18);
    painter.setPen(palette.color(QPalette::PlaceholderText));
    painter.drawText(line, Qt::AlignHCenter | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(picture.library ? shown(picture.folder())
                                                                      : shownPath(model.host(), deletingLastPathComponent(picture.path)),
                                                      Qt::ElideLeft, textWidth));
    line.translate(0, -2);
    QFont small = option.font;
    small.setPointSizeF(std::max(7.0, small.pointSizeF() - 1.0));
    painter.setFont(small);
    painter.setPen(palette.color(QPalette::PlaceholderText));
    line.translate(0, 18);
    painter.drawText(line, Qt::AlignHCenter | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(facts, Qt::ElideRight, textWidth));
    QString note;
    if (locked) note = "Locked";
    else if (const auto reason = picture.fixedKeepReason()) note = shown(*reason);
    else if (const auto hint = model.hints().find(picture.path); hint != model.hints().end()) note = shown(hint->second);
    else if (const auto face = model.faceNotes().find(picture.path); face != model.faceNotes().end()) note = shown(face->second);
    if (const auto score = model.qualityScores().find(picture.path); score != model.qualityScores().end())
        note = note.isEmpty() ? QString("Quality %1").arg(score->second)
                              : QString::fromUtf8("Q %1 · ").arg(score->second) + note;
    if (!note.isEmpty()) {
        line.translate(0, 16);
        painter.setPen(locked ? QColor(0x1f, 0x6f, 0xd1) : palette.color(QPalette::Text));
        painter.drawText(line, Qt::AlignHCenter | Qt::AlignVCenter,
                         painter.fontMetrics().elidedText(note, Qt::ElideRight, textWidth));
    }
    painter.setFont(option.font);
}

} // namespace vp::gui
