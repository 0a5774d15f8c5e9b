// The results: a virtualised list of group cards. Mouse: the box marks a copy, the lock locks
// it, a double click compares. Keyboard: up and down between groups, left and right between
// pictures, space marks, L locks, Enter compares.
#pragma once

#include "GroupDelegate.h"
#include "GroupListModel.h"
#include "ThumbnailLoader.h"

#include <QListView>
#include <QTimer>

#include <string>
#include <vector>

namespace vp::gui {

class ResultsView : public QListView {
    Q_OBJECT
public:
    ResultsView(GroupListModel& groups, ThumbnailLoader& thumbnails, QWidget* parent = nullptr);

    /// The picture with the keyboard focus, if any.
    const PhotoAsset* currentPicture() const;
    int currentMember() const { return m_delegate->currentMember(); }
    void setCurrent(int row, int member);

    /// What a person's action does, also used by the menus and the tests.
    void toggleMark(const PhotoAsset& picture, QPoint where);
    void toggleLock(const PhotoAsset& picture);

Q_SIGNALS:
    /// Enter or a double click: these pictures side by side.
    void compareRequested(const std::vector<std::string>& paths);
    void showInFolderRequested(const std::string& path);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    struct Target {
        int row = -1;
        GroupLayout::Hit hit;
        const DuplicateGroup* group = nullptr;
    };
    Target targetAt(QPoint point) const;
    QPoint tileCentre(int row, int member) const;
    void compareCurrentGroup();
    void showRefusalAt(QPoint globalPoint);

    GroupListModel& m_groups;
    GroupDelegate* m_delegate;
    QTimer m_repaint; // thumbnails arrive in bursts; one repaint takes them all in
};

} // namespace vp::gui
