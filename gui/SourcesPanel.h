// The sidebar: where pictures come from (folders, or a Lightroom Classic or Capture One catalog;
// the photo library greyed until it can be scanned), the chosen folders with their drives and
// protection, or the chosen catalog.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QWidget>

class QComboBox;
class QLabel;
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
    /// Opens the chooser of the current scope's catalog and chooses what the person picked.
    void chooseCatalog();

private:
    std::optional<PhotoSource> selectedSource() const;

    PhotoCleanupModel& m_model;
    QComboBox* m_scope;
    QListWidget* m_folders;
    QPushButton* m_add;
    QPushButton* m_remove;
    QPushButton* m_protect;
    QWidget* m_folderBox;  // shown for folders
    QWidget* m_catalogBox; // shown for a catalog
    QLabel* m_catalogName;
    QPushButton* m_chooseCatalog;
};

} // namespace vp::gui
