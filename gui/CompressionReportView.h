// One compression's report, file by file: what happened to it (compressed with its sizes,
// skipped or not compressed with the reason, original back), with Show in Trash and Use
// Original for the files whose original is in the Trash.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace vp::gui {

class CompressionReportView : public QWidget {
    Q_OBJECT
public:
    CompressionReportView(PhotoCleanupModel& model, QWidget* parent = nullptr);

    /// Shows the compression with this id as the model knows it now: the history first (where a
    /// put-back shows), then the latest reports.
    void show(const Uuid& planID);
    void refresh();
    /// Puts back the original of that row; false when it did not come back (the reason is shown).
    bool useOriginal(int row);
    int rowCount() const;
    QString summary() const;
    QString rowText(int row) const;
    QString result() const;

Q_SIGNALS:
    void originalBack();

private:
    std::optional<CompressionReport> current() const;
    void updateButtons();

    PhotoCleanupModel& m_model;
    std::optional<Uuid> m_planID;
    QLabel* m_summary;
    QTreeWidget* m_items;
    QPushButton* m_showInTrash;
    QPushButton* m_useOriginal;
    QLabel* m_result;
};

/// "2 compressed, 1 skipped, 0 not compressed; 12.4 MB saved".
QString compressionSummary(const CompressionReport& report);

} // namespace vp::gui
