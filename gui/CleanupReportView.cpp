#include "CleanupReportView.h"

#include "FileManager.h"
#include "Texts.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vp::gui {

QString reportSummary(const CleanupReport& report) {
    QString text = QString("%1 moved to the Trash (%2), %3 skipped, %4 failed")
                       .arg(report.moved())
                       .arg(bytesText(report.movedBytes()))
                       .arg(report.skipped())
                       .arg(report.failed());
    if (report.unknown() > 0) text += QString(", %1 to check by hand").arg(report.unknown());
    if (report.restored() > 0) text += QString(", %1 put back").arg(report.restored());
    return text;
}

CleanupReportView::CleanupReportView(PhotoCleanupModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_summary(new QLabel(this)), m_items(new QTreeWidget(this)),
      m_showInTrash(new QPushButton("Show in Trash", this)), m_putBack(new QPushButton("Put Back", this)),
      m_result(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    emphasise(*m_summary);
    layout->addWidget(m_summary);
    m_items->setColumnCount(3);
    m_items->setHeaderLabels({"Picture", "Outcome", "Details"});
    m_items->setRootIsDecorated(false);
    m_items->setUniformRowHeights(true);
    m_items->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_items->header()->setStretchLastSection(true);
    m_items->setColumnWidth(0, 340);
    m_items->setColumnWidth(1, 120);
    layout->addWidget(m_items, 1);
    m_result->setWordWrap(true);
    layout->addWidget(m_result);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_showInTrash);
    buttons->addWidget(m_putBack);
    layout->addLayout(buttons);

    connect(m_items, &QTreeWidget::itemSelectionChanged, this, &CleanupReportView::updateButtons);
    connect(m_showInTrash, &QPushButton::clicked, this, [this] {
        const auto report = current();
        const int row = m_items->indexOfTopLevelItem(m_items->currentItem());
        if (!report || row < 0) return;
        if (const auto place = m_model.showInTrash(report->items[static_cast<std::size_t>(row)]))
            showInFileManager(*place);
        else
            m_result->setText("It is not in the Trash any more.");
    });
    connect(m_putBack, &QPushButton::clicked, this, [this] {
        QList<int> rows;
        for (auto* item : m_items->selectedItems()) rows << m_items->indexOfTopLevelItem(item);
        std::sort(rows.begin(), rows.end());
        for (const int row : rows) putBack(row);
    });
    updateButtons();
}

std::optional<CleanupReport> CleanupReportView::current() const {
    if (!m_planID) return std::nullopt;
    for (const auto* list : {&m_model.history(), &m_model.recovered()})
        for (const auto& report : *list)
            if (report.planID == *m_planID) return report;
    if (m_model.report() && m_model.report()->planID == *m_planID) return m_model.report();
    return std::nullopt;
}

void CleanupReportView::show(const Uuid& planID) {
    m_planID = planID;
    m_result->clear();
    refresh();
}

int CleanupReportView::rowCount() const { return m_items->topLevelItemCount(); }

QString CleanupReportView::summary() const { return m_summary->text(); }

void CleanupReportView::refresh() {
    const int keep = m_items->indexOfTopLevelItem(m_items->currentItem());
    m_items->clear();
    const auto report = current();
    if (!report) {
        m_summary->setText("Choose a cleanup.");
        updateButtons();
        return;
    }
    m_summary->setText(reportSummary(*report) + (report->reconciled ? " (interrupted, reconciled)" : ""));
    for (const auto& item : report->items) {
        const auto word = item.outcome.word();
        QString detail = item.outcome.detail() ? shown(*item.outcome.detail()) : QString();
        for (const auto& note : item.notes) detail += (detail.isEmpty() ? "" : "  ") + shown(note);
        auto* row = new QTreeWidgetItem(m_items, {shownPath(m_model.host(), item.removal.path),
                                                  QString::fromUtf8(word.data(), static_cast<qsizetype>(word.size())),
                                                  detail});
        row->setToolTip(0, shownPath(m_model.host(), item.removal.path));
        row->setToolTip(2, detail);
    }
    if (keep >= 0 && keep < m_items->topLevelItemCount()) m_items->setCurrentItem(m_items->topLevelItem(keep));
    updateButtons();
}

bool CleanupReportView::putBack(int row, bool beside) {
    const auto report = current();
    if (!report || row < 0 || row >= static_cast<int>(report->items.size())) return false;
    const ItemReport item = report->items[static_cast<std::size_t>(row)];
    const RestoreOutcome outcome = m_model.putBack(*report, item, beside);
    bool back = false;
    switch (outcome.kind) {
    case RestoreOutcome::Kind::restored:
        m_result->setText("Put back: " + shownPath(m_model.host(), outcome.text));
        back = true;
        break;
    case RestoreOutcome::Kind::occupied: {
        const auto answer = QMessageBox::question(
            this, "Put Back",
            "Something else is now at " + shownPath(m_model.host(), outcome.text) +
                ", and it is never overwritten. Put the picture back beside it, under a new name?");
        if (answer == QMessageBox::Yes) return putBack(row, true);
        m_result->setText("Not put back: something else is now at " + shownPath(m_model.host(), outcome.text) + ".");
        break;
    }
    case RestoreOutcome::Kind::failed: m_result->setText("Not put back: " + shown(outcome.text) + "."); break;
    case RestoreOutcome::Kind::notInTrash:
        m_result->setText("It is not in the Trash any more (emptied, or put back another way).");
        break;
    }
    refresh();
    Q_EMIT putBackDone();
    return back;
}

void CleanupReportView::updateButtons() {
    const auto report = current();
    bool anyInTrash = false;
    for (auto* item : m_items->selectedItems()) {
        const int row = m_items->indexOfTopLevelItem(item);
        if (report && row >= 0 && row < static_cast<int>(report->items.size()) &&
            report->items[static_cast<std::size_t>(row)].outcome.kind == ItemOutcome::Kind::movedToTrash)
            anyInTrash = true;
    }
    m_putBack->setEnabled(anyInTrash);
    m_showInTrash->setEnabled(anyInTrash && m_items->selectedItems().size() == 1);
}

} // namespace vp::gui
