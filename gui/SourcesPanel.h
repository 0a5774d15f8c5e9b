// The sidebar: where pictures come from (folders, the photo library, or a Lightroom Classic or
// Capture One catalog), the chosen folders with their drives and protection, or the chosen
// library or catalog.
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
    /// Opens the chooser of the current scope's catalog or library and chooses what the person
    /// picked.
    void chooseSource();

private:
    std::optional<PhotoSource> selectedSource() const;

    PhotoCleanupModel& m_model;
    QComboBox* m_scope;
    QListWidget* m_folders;
    QPushButton* m_add;
    QPushButton* m_remove;
    QPushButton* m_protect;
    QWidget* m_folderBox;  // shown for folders
    QWidget* m_sourceBox; // shown for a catalog or the photo library
    QLabel* m_sourceTitle;
    QLabel* m_sourceName;
    QPushButton* m_chooseSource;
    QPushButton* m_openFolder; // the library's folder, where its access is decided
    QLabel* m_sourceNote;
};

} // namespace vp::gui
