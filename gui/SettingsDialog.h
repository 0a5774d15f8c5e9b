// Settings: which copy to keep (the fixed rules, then the person's priorities in an order they
// drag or move), the similarity preset, protected folders and the window's theme. Changes take
// effect at once.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QListWidget;

namespace vp::gui {

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    SettingsDialog(PhotoCleanupModel& model, QWidget* parent = nullptr);
    void refresh();
    /// Moves the priority at `row` up (−1) or down (+1) and applies the new order.
    void movePriority(int row, int step);
    QListWidget* priorities() const { return m_priorities; }

private:
    void applyPriorityOrder();

    PhotoCleanupModel& m_model;
    QListWidget* m_priorities;
    QComboBox* m_preset;
    QLabel* m_presetExplanation;
    QListWidget* m_protected;
    QComboBox* m_theme;
};

} // namespace vp::gui
