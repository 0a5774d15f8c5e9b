#include "CompressionReportView.h"

#include "FileManager.h"
#include "Texts.h"

#include "engine/common/Text.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vp::gui {

namespace {

QString details(const CompressionItem& item) {
    switch (item.outcome.kind) {
    case CompressionOutcome::Kind::compressed: {
        QString text = QString::fromUtf8("%1 → %2, %3 saved")
                           .arg(bytesText(item.originalSize), bytesText(item.outcome.newSize), bytesText(item.saved()));
        if (item.replacedBy) text += QString::fromUtf8(", now %1").arg(shown(lastPathComponent(*item.replacedBy)));
        return text;
    }
    case CompressionOutcome::Kind::skipped:
    case CompressionOutcome::Kind::failed: return shown(item.outcome.reason);
    case CompressionOutcome::Kind::originalRestored: return QString("%1, back in its place").arg(bytesText(item.originalSize));
    }
    return {};
}

} // namespace

QString compressionSummary(const CompressionReport& report) {
    std::int64_t counts[4] = {0, 0, 0, 0};
    for (const auto& item : report.items) ++counts[static_cast<int>(item.outcome.kind)];
    QString text = QString("%1 compressed, %2 skipped, %3 not compressed").arg(counts[0]).arg(counts[1]).arg(counts[2]);
    if (counts[3] > 0) text += ", " + countText(counts[3], "original back", "originals back");
    if (report.saved() > 0) text += QString("; %1 saved").arg(bytesText(report.saved()));
    return text;
}

CompressionReportView::CompressionReportView(PhotoCleanupModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_summary(new QLabel(this)), m_items(new QTreeWidget(this)),
      m_showInTrash(new QPushButton("Show in Trash", this)), m_useOriginal(new QPushButton("Use Original", this)),
      m_result(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    emphasise(*m_summary);
    layout->addWidget(m_summary);
    m_items->setColumnCount(3);
    m_items->setHeaderLabels({"File", "Outcome", "Details"});
    m_items->setRootIsDecorated(false);
    m_items->setUniformRowHeights(true);
    m_items->header()->setStretchLastSection(true);
    m_items->setColumnWidth(0, 300);
    m_items->setColumnWidth(1, 120);
    layout->addWidget(m_items, 1);
    m_result->setWordWrap(true);
    m_result->setAccessibleName("Result");
    layout->addWidget(m_result);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_showInTrash);
    buttons->addWidget(m_useOriginal);
    layout->addLayout(buttons);

    connect(m_items, &QTreeWidget::currentItemChanged, this, &CompressionReportView::updateButtons);
    connect(m_showInTrash, &QPushButton::clicked, this, [this] {
        const auto report = current();
        const int row = m_items->indexOfTopLevelItem(m_items->currentItem());
        if (!report || row < 0) return;
        const auto& item = report->items[static_cast<std::size_t>(row)];
        if (item.outcome.kind == CompressionOutcome::Kind::compressed && FileSnapshot::read(item.outcome.originalInTrash))
            showInFileManager(item.outcome.originalInTrash);
        else
            m_result->setText("The original is no longer in the Trash.");
    });
    connect(m_useOriginal, &QPushButton::clicked, this, [this] { useOriginal(m_items->indexOfTopLevelItem(m_items->currentItem())); });
    updateButtons();
}

void CompressionReportView::show(const Uuid& planID) {
    m_planID = planID;
    m_result->clear();
    refresh();
    if (m_items->topLevelItemCount() > 0) m_items->setCurrentItem(m_items->topLevelItem(0));
}

std::optional<CompressionReport> CompressionReportView::current() const {
    if (!m_planID) return std::nullopt;
    for (const auto& report : m_model.compressionHistory())
        if (report.planID == *m_planID) return report;
    for (const auto* latest : {&m_model.compressionReport(), &m_model.imageCompressionReport()})
        if (*latest && (*latest)->planID == *m_planID) return **latest;
    return std::nullopt;
}

void CompressionReportView::refresh() {
    const int selected = m_items->indexOfTopLevelItem(m_items->currentItem());
    m_items->clear();
    const auto report = current();
    m_summary->setText(report ? compressionSummary(*report) : QString());
    if (!report) return;
    for (const auto& item : report->items) {
        auto* row = new QTreeWidgetItem(m_items, {shown(item.name()), shown(item.outcome.word()), details(item)});
        row->setToolTip(0, shownPath(m_model.host(), item.path));
        row->setToolTip(2, row->text(2));
    }
    if (selected >= 0 && selected < m_items->topLevelItemCount()) m_items->setCurrentItem(m_items->topLevelItem(selected));
    updateButtons();
}

bool CompressionReportView::useOriginal(int row) {
    const auto report = current();
    if (!report || row < 0 || row >= static_cast<int>(report->items.size())) return false;
    const CompressionItem item = report->items[static_cast<std::size_t>(row)];
    const auto sentence = m_model.useOriginal(item.path, item, *report);
    m_result->setText(sentence ? shown(*sentence) : QString("%1 is back in its place.").arg(shown(item.name())));
    refresh();
    if (!sentence) Q_EMIT originalBack();
    return !sentence;
}

void CompressionReportView::updateButtons() {
    const auto report = current();
    const int row = m_items->indexOfTopLevelItem(m_items->currentItem());
    const bool replaced = report && row >= 0 && row < static_cast<int>(report->items.size()) &&
                          report->items[static_cast<std::size_t>(row)].outcome.kind == CompressionOutcome::Kind::compressed;
    m_showInTrash->setEnabled(replaced);
    m_useOriginal->setEnabled(replaced);
}

int CompressionReportView::rowCount() const { return m_items->topLevelItemCount(); }
QString CompressionReportView::summary() const { return m_summary->text(); }
QString CompressionReportView::result() const { return m_result->text(); }
QString CompressionReportView::rowText(int row) const {
    const auto* item = m_items->topLevelItem(row);
    return item ? item->text(0) + " | " + item->text(1) + " | " + item->text(2) : QString();
}

} // namespace vp::gui
