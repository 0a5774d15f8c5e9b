// Earlier cleanups, newest first, with the ones that were interrupted and worked out at start;
// choosing one shows its report, from which pictures can be put back. Below them, the markings
// made in catalogs, each of which can be taken back.
#pragma once

#include "model/CatalogMarkings.h"
#include "model/PhotoCleanupModel.h"

#include <QDialog>

class QLabel;
class QListWidget;
class QPushButton;

namespace vp::gui {

class CleanupReportView;

class HistoryWindow : public QDialog {
    Q_OBJECT
public:
    HistoryWindow(PhotoCleanupModel& model, QWidget* parent = nullptr);
    void refresh();
    QListWidget* cleanups() const { return m_cleanups; }
    CleanupReportView* report() const { return m_report; }
    QListWidget* markings() const { return m_markings; }
    QPushButton* takeBackButton() const { return m_takeBack; }

private:
    void refreshMarkings();

    PhotoCleanupModel& m_model;
    QListWidget* m_cleanups;
    CleanupReportView* m_report;
    std::vector<Uuid> m_shown;
    QListWidget* m_markings;
    QPushButton* m_takeBack;
    QLabel* m_markingNotice;
    std::vector<MarkingRecord> m_markingList;
};

} // namespace vp::gui
