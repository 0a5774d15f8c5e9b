// Earlier cleanups, newest first, with the ones that were interrupted and worked out at start;
// choosing one shows its report, from which pictures can be put back.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QDialog>

class QListWidget;

namespace vp::gui {

class CleanupReportView;

class HistoryWindow : public QDialog {
    Q_OBJECT
public:
    HistoryWindow(PhotoCleanupModel& model, QWidget* parent = nullptr);
    void refresh();
    QListWidget* cleanups() const { return m_cleanups; }
    CleanupReportView* report() const { return m_report; }

private:
    PhotoCleanupModel& m_model;
    QListWidget* m_cleanups;
    CleanupReportView* m_report;
    std::vector<Uuid> m_shown;
};

} // namespace vp::gui
