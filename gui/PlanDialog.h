// The plan sheet: what approving will move, where it lives, and what deserves a second look,
// with Confirm and Cancel. Nothing moves until Confirm.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QDialog>

namespace vp::gui {

class PlanDialog : public QDialog {
    Q_OBJECT
public:
    PlanDialog(const PhotoCleanupModel& model, const CleanupPlan& plan, QWidget* parent = nullptr);

    /// The sheet's lines, as shown.
    QStringList lines() const { return m_lines; }

private:
    QStringList m_lines;
};

} // namespace vp::gui
