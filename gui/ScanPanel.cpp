#include "ScanPanel.h"

#include "Texts.h"

#include "engine/similarity/SimilarityIndex.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vp::gui {

ScanPanel::ScanPanel(PhotoCleanupModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_modes(new QButtonGroup(this)), m_modeExplanation(new QLabel(this)),
      m_preset(new QComboBox(this)), m_presetExplanation(new QLabel(this)), m_scan(new QPushButton("Scan", this)),
      m_cancel(new QPushButton("Cancel", this)), m_progress(new QProgressBar(this)), m_stage(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 4);
    auto* top = new QHBoxLayout;
    for (const auto mode : allCases<Mode>()) {
        auto* button = new QRadioButton(QString::fromUtf8(name(mode).data(), static_cast<qsizetype>(name(mode).size())), this);
        button->setToolTip(QString::fromUtf8(explanation(mode).data(), static_cast<qsizetype>(explanation(mode).size())));
        m_modes->addButton(button, static_cast<int>(mode));
        top->addWidget(button);
    }
    top->addSpacing(12);
    for (const auto preset : allCases<SimilarityPreset>()) {
        const auto title = name(preset);
        m_preset->addItem(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())), static_cast<int>(preset));
    }
    m_preset->setAccessibleName("Preset");
    top->addWidget(m_preset);
    top->addStretch(1);
    m_scan->setDefault(true);
    top->addWidget(m_scan);
    top->addWidget(m_cancel);
    layout->addLayout(top);
    for (QLabel* label : {m_modeExplanation, m_presetExplanation}) {
        label->setWordWrap(true);
        label->setForegroundRole(QPalette::PlaceholderText);
        layout->addWidget(label);
    }
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(m_stage, 1);
    progressRow->addWidget(m_progress, 1);
    layout->addLayout(progressRow);

    connect(m_modes, &QButtonGroup::idClicked, this, [this](int mode) { m_model.setMode(static_cast<Mode>(mode)); });
    connect(m_preset, &QComboBox::activated, this,
            [this](int index) { m_model.setPreset(static_cast<SimilarityPreset>(m_preset->itemData(index).toInt())); });
    connect(m_scan, &QPushButton::clicked, this, [this] { m_model.scan(); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_model.cancelScan(); });
    refresh();
}

QString ScanPanel::progressText() const {
    const ScanProgress& progress = m_model.progress();
    const auto stage = rawValue(progress.stage);
    QString text = QString::fromUtf8(stage.data(), static_cast<qsizetype>(stage.size()));
    const auto [done, total] = m_model.stepProgress();
    const bool measuring = progress.stage == ScanProgress::Stage::measuring || progress.stage == ScanProgress::Stage::checkingFaces;
    if (measuring && total > 0) text += QString(": %1 of %2").arg(done).arg(total);
    else if (progress.discovered > 0)
        text += QString(": %1 of %2 pictures examined").arg(progress.examined).arg(progress.discovered);
    return text;
}

void ScanPanel::refresh() {
    const Mode mode = m_model.mode();
    if (auto* button = m_modes->button(static_cast<int>(mode))) button->setChecked(true);
    const auto modeText = explanation(mode);
    m_modeExplanation->setText(QString::fromUtf8(modeText.data(), static_cast<qsizetype>(modeText.size())));
    for (int index = 0; index < m_preset->count(); ++index)
        if (static_cast<SimilarityPreset>(m_preset->itemData(index).toInt()) == m_model.preset()) m_preset->setCurrentIndex(index);
    const auto presetText = explanation(m_model.preset());
    m_preset->setVisible(mode == Mode::similar);
    m_presetExplanation->setVisible(mode == Mode::similar);
    m_presetExplanation->setText(QString::fromUtf8(presetText.data(), static_cast<qsizetype>(presetText.size())));

    const bool scanning = m_model.phase() == Phase::scanning;
    const bool executing = m_model.phase() == Phase::executing;
    m_scan->setEnabled(m_model.canScan());
    m_scan->setText(m_model.phase() == Phase::results ? "Scan Again" : "Scan");
    m_cancel->setVisible(scanning);
    for (auto* button : m_modes->buttons()) button->setEnabled(!executing);
    m_progress->setVisible(scanning);
    m_stage->setVisible(scanning);
    if (scanning) {
        m_stage->setText(progressText());
        const ScanProgress& progress = m_model.progress();
        const auto [done, total] = m_model.stepProgress();
        const bool measuring = progress.stage == ScanProgress::Stage::measuring || progress.stage == ScanProgress::Stage::checkingFaces;
        const std::int64_t shownTotal = measuring ? total : progress.discovered;
        const std::int64_t shownDone = measuring ? done : progress.examined;
        m_progress->setRange(0, shownTotal > 0 ? 1000 : 0); // busy until the total is known
        if (shownTotal > 0) m_progress->setValue(static_cast<int>(1000 * shownDone / shownTotal));
    }
}

} // namespace vp::gui
