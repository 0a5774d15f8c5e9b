#include "HistoryWindow.h"

#include "CleanupReportView.h"
#include "Texts.h"

#include <QDateTime>
#include <QLocale>

#include <chrono>
#include <set>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QListWidget>
#include <QSplitter>
#include <QVBoxLayout>

namespace vp::gui {

namespace {

QString dateText(Timestamp time) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
    const QDateTime when = QDateTime::fromSecsSinceEpoch(seconds);
    return QLocale().toString(when, QLocale::ShortFormat);
}

} // namespace

HistoryWindow::HistoryWindow(PhotoCleanupModel& model, QWidget* parent)
    : QDialog(parent), m_model(model), m_cleanups(new QListWidget(this)), m_report(new CleanupReportView(model, this)),
      m_markings(new QListWidget(this)), m_takeBack(new QPushButton("Take Back", this)), m_markingNotice(new QLabel(this)) {
    setWindowTitle("Cleanup History");
    resize(980, 560);
    auto* layout = new QVBoxLayout(this);
    auto* splitter = new QSplitter(this);
    m_cleanups->setAccessibleName("Cleanups");
    m_cleanups->setWordWrap(true);
    m_cleanups->setMinimumWidth(300);
    m_cleanups->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    splitter->addWidget(m_cleanups);
    splitter->addWidget(m_report);
    splitter->setStretchFactor(1, 3);
    layout->addWidget(splitter, 1);

    auto* markingsTitle = new QLabel("Markings in catalogs", this);
    emphasise(*markingsTitle);
    layout->addWidget(markingsTitle);
    m_markings->setAccessibleName("Markings in catalogs");
    m_markings->setMaximumHeight(140);
    layout->addWidget(m_markings);
    auto* markingRow = new QHBoxLayout;
    m_markingNotice->setWordWrap(true);
    markingRow->addWidget(m_markingNotice, 1);
    m_takeBack->setToolTip("Gives the photos their earlier flag or colour tag back, unless they were changed in the "
                           "catalog's own program since.");
    markingRow->addWidget(m_takeBack);
    layout->addLayout(markingRow);
    connect(m_markings, &QListWidget::currentRowChanged, this, [this](int row) {
        m_takeBack->setEnabled(row >= 0 && row < static_cast<int>(m_markingList.size()) &&
                               !isTakenBack(m_markingList[static_cast<std::size_t>(row)]));
    });
    connect(m_takeBack, &QPushButton::clicked, this, [this] {
        const int row = m_markings->currentRow();
        if (row < 0 || row >= static_cast<int>(m_markingList.size())) return;
        takeBack(m_model, m_markingList[static_cast<std::size_t>(row)]);
        m_markingNotice->setText(shown(m_model.notice().value_or("")));
        refresh();
    });
    connect(m_cleanups, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < static_cast<int>(m_shown.size())) m_report->show(m_shown[static_cast<std::size_t>(row)]);
    });
    connect(m_report, &CleanupReportView::putBackDone, this, &HistoryWindow::refresh);
    refresh();
}

void HistoryWindow::refreshMarkings() {
    const int keep = std::max(0, m_markings->currentRow());
    const QSignalBlocker quiet(m_markings);
    m_markings->clear();
    m_markingList = catalogMarkings(m_model);
    for (const auto& marking : m_markingList) {
        const Timestamp date = std::visit([](const auto& record) { return record.date; }, marking);
        QString text = dateText(date) + QString::fromUtf8(" · ") + shown(markingSummary(marking));
        if (isTakenBack(marking)) text += " (taken back)";
        new QListWidgetItem(text, m_markings);
    }
    if (m_markingList.empty()) {
        new QListWidgetItem("No markings in catalogs yet.", m_markings);
        m_markings->item(0)->setFlags(Qt::NoItemFlags);
        m_takeBack->setEnabled(false);
        return;
    }
    const int row = std::min(keep, m_markings->count() - 1);
    m_markings->setCurrentRow(row);
    m_takeBack->setEnabled(!isTakenBack(m_markingList[static_cast<std::size_t>(row)]));
}

void HistoryWindow::refresh() {
    refreshMarkings();
    const int keep = std::max(0, m_cleanups->currentRow());
    const QSignalBlocker quiet(m_cleanups);
    m_cleanups->clear();
    m_shown.clear();
    std::set<std::string> listed;
    const auto add = [&](const CleanupReport& report, bool recovered) {
        if (!listed.insert(report.planID.text()).second) return;
        QString text = dateText(report.started) + "\n" + reportSummary(report);
        if (recovered || report.reconciled) text += "\n(interrupted, reconciled)";
        new QListWidgetItem(text, m_cleanups);
        m_shown.push_back(report.planID);
    };
    for (const auto& report : m_model.recovered()) add(report, true);
    for (const auto& report : m_model.history()) add(report, false);
    if (m_shown.empty()) {
        new QListWidgetItem("No cleanups yet.", m_cleanups);
        m_cleanups->item(0)->setFlags(Qt::NoItemFlags);
        return;
    }
    m_cleanups->setCurrentRow(std::min(keep, m_cleanups->count() - 1));
    m_report->show(m_shown[static_cast<std::size_t>(m_cleanups->currentRow())]);
}

} // namespace vp::gui
