// Above the results: what to look for (the three modes, and the preset for similar photos, each
// with its explanation), Scan and Cancel, and the running scan's stage and progress.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QWidget>

class QButtonGroup;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace vp::gui {

class ScanPanel : public QWidget {
    Q_OBJECT
public:
    ScanPanel(PhotoCleanupModel& model, QWidget* parent = nullptr);
    void refresh();

    /// The progress line as shown ("Reading pictures: 120 of 400").
    QString progressText() const;

private:
    PhotoCleanupModel& m_model;
    QButtonGroup* m_modes;
    QLabel* m_modeExplanation;
    QComboBox* m_preset;
    QLabel* m_presetExplanation;
    QPushButton* m_scan;
    QPushButton* m_cancel;
    QProgressBar* m_progress;
    QLabel* m_stage;
};

} // namespace vp::gui
