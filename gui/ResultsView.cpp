#include "ResultsView.h"

#include "Texts.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolTip>

namespace vp::gui {

ResultsView::ResultsView(GroupListModel& groups, ThumbnailLoader& thumbnails, QWidget* parent)
    : QListView(parent), m_groups(groups), m_delegate(new GroupDelegate(groups, thumbnails, this)) {
    setModel(&groups);
    setItemDelegate(m_delegate);
    setUniformItemSizes(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(24);
    setResizeMode(QListView::Adjust);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setMouseTracking(true);
    setFrameShape(QFrame::NoFrame);
    setAccessibleName("Groups");
    m_repaint.setSingleShot(true);
    m_repaint.setInterval(30);
    connect(&m_repaint, &QTimer::timeout, viewport(), qOverload<>(&QWidget::update));
    connect(&thumbnails, &ThumbnailLoader::ready, this, [this] {
        if (!m_repaint.isActive()) m_repaint.start();
    });
    connect(&groups, &QAbstractItemModel::modelReset, this, [this] {
        m_delegate->setCurrentMember(0);
        if (m_groups.rowCount() > 0) setCurrentIndex(m_groups.index(0));
    });
}

const PhotoAsset* ResultsView::currentPicture() const {
    const DuplicateGroup* group = m_groups.group(currentIndex().row());
    const int member = m_delegate->currentMember();
    if (!group || member < 0 || member >= static_cast<int>(group->members.size())) return nullptr;
    return &group->members[static_cast<std::size_t>(member)];
}

void ResultsView::setCurrent(int row, int member) {
    m_delegate->setCurrentMember(member);
    setCurrentIndex(m_groups.index(row));
    scrollTo(currentIndex());
    viewport()->update();
}

ResultsView::Target ResultsView::targetAt(QPoint point) const {
    Target target;
    const QModelIndex index = indexAt(point);
    target.group = m_groups.group(index.row());
    if (!target.group) return target;
    target.row = index.row();
    const GroupLayout layout(visualRect(index));
    target.hit = layout.hit(point, static_cast<int>(target.group->members.size()));
    return target;
}

QPoint ResultsView::tileCentre(int row, int member) const {
    const DuplicateGroup* group = m_groups.group(row);
    if (!group) return {};
    const GroupLayout layout(visualRect(m_groups.index(row)));
    return viewport()->mapToGlobal(layout.thumbnail(member).center());
}

void ResultsView::showRefusalAt(QPoint globalPoint) {
    // A refusal is shown where the person acted, besides the window's notice line.
    if (const auto& notice = m_groups.model().notice()) QToolTip::showText(globalPoint, shown(*notice), this);
}

void ResultsView::toggleMark(const PhotoAsset& picture, QPoint where) {
    const std::string path = picture.path; // the groups may be rebuilt by the model
    m_groups.model().toggleMark(path);
    showRefusalAt(where);
    viewport()->update();
}

void ResultsView::toggleLock(const PhotoAsset& picture) {
    const std::string path = picture.path;
    m_groups.model().toggleLock(path);
    viewport()->update();
}

void ResultsView::mousePressEvent(QMouseEvent* event) {
    const Target target = targetAt(event->position().toPoint());
    if (!target.group || event->button() != Qt::LeftButton) {
        QListView::mousePressEvent(event);
        return;
    }
    const auto groupID = target.group->id;
    if (target.hit.member >= 0) setCurrent(target.row, target.hit.member);
    else setCurrentIndex(m_groups.index(target.row));
    const QPoint global = event->globalPosition().toPoint();
    switch (target.hit.part) {
    case GroupLayout::Part::markBox:
        toggleMark(target.group->members[static_cast<std::size_t>(target.hit.member)], global);
        break;
    case GroupLayout::Part::lockBox:
        toggleLock(target.group->members[static_cast<std::size_t>(target.hit.member)]);
        break;
    case GroupLayout::Part::markSuggested:
        m_groups.model().markSuggested(groupID);
        showRefusalAt(global);
        break;
    case GroupLayout::Part::clearMarks: m_groups.model().clearMarks(groupID); break;
    case GroupLayout::Part::tile:
    case GroupLayout::Part::none: break;
    }
    viewport()->update();
}

void ResultsView::mouseDoubleClickEvent(QMouseEvent* event) {
    const Target target = targetAt(event->position().toPoint());
    if (target.hit.part == GroupLayout::Part::tile) compareCurrentGroup();
}

void ResultsView::compareCurrentGroup() {
    const DuplicateGroup* group = m_groups.group(currentIndex().row());
    if (!group) return;
    std::vector<std::string> paths;
    const PhotoAsset* current = currentPicture();
    if (current) paths.push_back(current->path);
    for (const auto& member : group->members)
        if (paths.size() < 4 && (!current || member.path != current->path)) paths.push_back(member.path);
    Q_EMIT compareRequested(paths);
}

void ResultsView::keyPressEvent(QKeyEvent* event) {
    const DuplicateGroup* group = m_groups.group(currentIndex().row());
    const int members = group ? static_cast<int>(group->members.size()) : 0;
    const int member = m_delegate->currentMember();
    switch (event->key()) {
    case Qt::Key_Left:
        if (group && member > 0) setCurrent(currentIndex().row(), member - 1);
        return;
    case Qt::Key_Right:
        if (group && member + 1 < members) setCurrent(currentIndex().row(), member + 1);
        return;
    case Qt::Key_Space:
        if (const PhotoAsset* picture = currentPicture()) toggleMark(*picture, tileCentre(currentIndex().row(), member));
        return;
    case Qt::Key_L:
        if (const PhotoAsset* picture = currentPicture()) toggleLock(*picture);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter: compareCurrentGroup(); return;
    default: QListView::keyPressEvent(event);
    }
}

void ResultsView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    if (current.row() != previous.row()) {
        const DuplicateGroup* group = m_groups.group(current.row());
        const int members = group ? static_cast<int>(group->members.size()) : 0;
        if (m_delegate->currentMember() >= members) m_delegate->setCurrentMember(std::max(0, members - 1));
    }
    QListView::currentChanged(current, previous);
    viewport()->update();
}

void ResultsView::contextMenuEvent(QContextMenuEvent* event) {
    const Target target = targetAt(event->pos());
    if (!target.group || target.hit.member < 0) return;
    setCurrent(target.row, target.hit.member);
    const PhotoAsset picture = target.group->members[static_cast<std::size_t>(target.hit.member)];
    const auto& session = *m_groups.model().session();
    QMenu menu(this);
    const QPoint global = event->globalPos();
    menu.addAction(session.isMarked(picture.path) ? "Unmark" : "Mark for the Trash",
                   [this, picture, global] { toggleMark(picture, global); });
    menu.addAction(session.isLocked(picture.path) ? "Unlock" : "Lock: always keep this copy, in this scan and later ones",
                   [this, picture] { toggleLock(picture); });
    menu.addSeparator();
    menu.addAction("Compare", [this] { compareCurrentGroup(); });
    menu.addAction("Show in Folder", [this, picture] { Q_EMIT showInFolderRequested(picture.path); });
    menu.exec(global);
}

bool ResultsView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const Target target = targetAt(help->pos());
        QString text;
        if (target.group && target.hit.member >= 0) {
            const auto& picture = target.group->members[static_cast<std::size_t>(target.hit.member)];
            if (target.hit.part == GroupLayout::Part::lockBox)
                text = m_groups.model().session()->isLocked(picture.path)
                           ? "Locked: always kept. Click to unlock."
                           : "Lock: always keep this copy, in this scan and later ones";
            else if (target.hit.part == GroupLayout::Part::markBox)
                text = "Mark this copy for the Trash";
            else
                text = pictureTooltip(m_groups.model(), picture);
        }
        if (text.isEmpty()) QToolTip::hideText();
        else QToolTip::showText(help->globalPos(), text, viewport());
        return true;
    }
    return QListView::viewportEvent(event);
}

} // namespace vp::gui
