// The sidebar: where pictures come from (folders now; the photo library and catalogs greyed
// until they can be scanned), the chosen folders with their drives, and protection.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QWidget>

class QComboBox;
class QListWidget;
class QPushButton;

namespace vp::gui {

class SourcesPanel : public QWidget {
    Q_OBJECT
public:
    SourcesPanel(PhotoCleanupModel& model, QWidget* parent = nullptr);
    void refresh();
    /// Opens the folder chooser and adds what the person picked.
    void chooseFolders();

private:
    std::optional<PhotoSource> selectedSource() const;

    PhotoCleanupModel& m_model;
    QComboBox* m_scope;
    QListWidget* m_folders;
    QPushButton* m_add;
    QPushButton* m_remove;
    QPushButton* m_protect;
};

} // namespace vp::gui
