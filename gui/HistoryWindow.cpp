#include "HistoryWindow.h"

#include "CleanupReportView.h"
#include "Texts.h"

#include <QDateTime>
#include <QLocale>

#include <chrono>
#include <set>
#include <QLabel>
#include <QListWidget>
#include <QSplitter>
#include <QVBoxLayout>

namespace vp::gui {

namespace {

QString startedText(const CleanupReport& report) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(report.started.time_since_epoch()).count();
    const QDateTime when = QDateTime::fromSecsSinceEpoch(seconds);
    return QLocale().toString(when, QLocale::ShortFormat);
}

} // namespace

HistoryWindow::HistoryWindow(PhotoCleanupModel& model, QWidget* parent)
    : QDialog(parent), m_model(model), m_cleanups(new QListWidget(this)), m_report(new CleanupReportView(model, this)) {
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
    layout->addWidget(splitter);
    connect(m_cleanups, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < static_cast<int>(m_shown.size())) m_report->show(m_shown[static_cast<std::size_t>(row)]);
    });
    connect(m_report, &CleanupReportView::putBackDone, this, &HistoryWindow::refresh);
    refresh();
}

void HistoryWindow::refresh() {
    const int keep = std::max(0, m_cleanups->currentRow());
    const QSignalBlocker quiet(m_cleanups);
    m_cleanups->clear();
    m_shown.clear();
    std::set<std::string> listed;
    const auto add = [&](const CleanupReport& report, bool recovered) {
        if (!listed.insert(report.planID.text()).second) return;
        QString text = startedText(report) + "\n" + reportSummary(report);
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
