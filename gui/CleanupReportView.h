// One cleanup's report, picture by picture: what happened to it and why, with Show in Trash and
// Put Back for the pictures that are in the Trash.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace vp::gui {

class CleanupReportView : public QWidget {
    Q_OBJECT
public:
    CleanupReportView(PhotoCleanupModel& model, QWidget* parent = nullptr);

    /// Shows the cleanup with this id, as the model knows it now (history first, then the
    /// latest report).
    void show(const Uuid& planID);
    void refresh();
    /// Puts back the picture on that row; false when it did not come back. `beside` puts it
    /// under a new name next to something that took its place.
    bool putBack(int row, bool beside = false);
    int rowCount() const;
    QString summary() const;

Q_SIGNALS:
    void putBackDone();

private:
    std::optional<CleanupReport> current() const;
    void updateButtons();

    PhotoCleanupModel& m_model;
    std::optional<Uuid> m_planID;
    QLabel* m_summary;
    QTreeWidget* m_items;
    QPushButton* m_showInTrash;
    QPushButton* m_putBack;
    QLabel* m_result;
};

/// "12 moved to the Trash (4.1 MB), 1 skipped, 0 failed".
QString reportSummary(const CleanupReport& report);

} // namespace vp::gui
