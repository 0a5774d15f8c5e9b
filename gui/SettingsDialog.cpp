#include "SettingsDialog.h"

#include "Texts.h"
#include "Theme.h"

#include "engine/review/KeeperPolicy.h"
#include "engine/similarity/SimilarityIndex.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace vp::gui {

namespace {

QString text(std::string_view view) { return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size())); }

constexpr int priorityRole = Qt::UserRole + 1;

} // namespace

SettingsDialog::SettingsDialog(PhotoCleanupModel& model, QWidget* parent)
    : QDialog(parent), m_model(model), m_priorities(new QListWidget(this)), m_preset(new QComboBox(this)),
      m_presetExplanation(new QLabel(this)), m_protected(new QListWidget(this)), m_theme(new QComboBox(this)) {
    setWindowTitle("Settings");
    resize(620, 640);
    auto* layout = new QVBoxLayout(this);

    auto* keeping = new QGroupBox("Which copy to keep", this);
    auto* keepingLayout = new QVBoxLayout(keeping);
    auto* fixedRules = new QLabel("Locked photos, protected folders and photos with sidecars or Live Photo halves are "
                                  "always kept first.",
                                  keeping);
    fixedRules->setWordWrap(true);
    keepingLayout->addWidget(fixedRules);
    keepingLayout->addWidget(new QLabel("After the fixed rules, in this order:", keeping));
    auto* howTo = new QLabel("Drag to reorder; untick what should not count.", keeping);
    howTo->setForegroundRole(QPalette::PlaceholderText);
    keepingLayout->addWidget(howTo);
    m_priorities->setDragDropMode(QAbstractItemView::InternalMove);
    m_priorities->setAccessibleName("Priorities");
    auto* priorityRow = new QHBoxLayout;
    priorityRow->addWidget(m_priorities, 1);
    auto* moves = new QVBoxLayout;
    auto* up = new QPushButton("Move Up", keeping);
    auto* down = new QPushButton("Move Down", keeping);
    auto* standard = new QPushButton("Default Order", keeping);
    moves->addWidget(up);
    moves->addWidget(down);
    moves->addStretch(1);
    moves->addWidget(standard);
    priorityRow->addLayout(moves);
    keepingLayout->addLayout(priorityRow);
    layout->addWidget(keeping, 1);

    auto* similar = new QGroupBox("Similar photos", this);
    auto* similarLayout = new QVBoxLayout(similar);
    for (const auto preset : allCases<SimilarityPreset>())
        m_preset->addItem(text(name(preset)), static_cast<int>(preset));
    similarLayout->addWidget(m_preset);
    m_presetExplanation->setWordWrap(true);
    similarLayout->addWidget(m_presetExplanation);
    layout->addWidget(similar);

    auto* protection = new QGroupBox("Protected folders", this);
    auto* protectionLayout = new QVBoxLayout(protection);
    auto* protectionNote = new QLabel("Copies in a protected folder are never marked and are preferred as the copy to keep.",
                                      protection);
    protectionNote->setWordWrap(true);
    protectionLayout->addWidget(protectionNote);
    m_protected->setMaximumHeight(120);
    protectionLayout->addWidget(m_protected);
    layout->addWidget(protection);

    auto* look = new QFormLayout;
    m_theme->addItems(themeNames());
    look->addRow("Theme", m_theme);
    layout->addLayout(look);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    layout->addWidget(buttons);

    connect(up, &QPushButton::clicked, this, [this] { movePriority(m_priorities->currentRow(), -1); });
    connect(down, &QPushButton::clicked, this, [this] { movePriority(m_priorities->currentRow(), +1); });
    connect(standard, &QPushButton::clicked, this, [this] {
        m_model.setPriorities({KeeperPolicy::standard.begin(), KeeperPolicy::standard.end()});
        refresh();
    });
    connect(m_priorities->model(), &QAbstractItemModel::rowsMoved, this, &SettingsDialog::applyPriorityOrder);
    connect(m_priorities, &QListWidget::itemChanged, this, &SettingsDialog::applyPriorityOrder);
    connect(m_preset, &QComboBox::activated, this, [this](int index) {
        m_model.setPreset(static_cast<SimilarityPreset>(m_preset->itemData(index).toInt()));
        refresh();
    });
    connect(m_protected, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        m_model.setProtected(pathBytes(item->data(Qt::UserRole).toString()), item->checkState() == Qt::Checked);
    });
    connect(m_theme, &QComboBox::activated, this, [](int index) {
        applyTheme(static_cast<Theme>(index));
        storeTheme(static_cast<Theme>(index));
    });
    refresh();
}

void SettingsDialog::refresh() {
    const int keepRow = m_priorities->currentRow();
    const QSignalBlocker quietPriorities(m_priorities);
    m_priorities->clear();
    // The person's priorities in their order, ticked; the ones they do not use after them.
    std::vector<KeeperPolicy::Priority> shownOrder = m_model.priorities();
    for (const auto priority : allCases<KeeperPolicy::Priority>())
        if (std::find(shownOrder.begin(), shownOrder.end(), priority) == shownOrder.end()) shownOrder.push_back(priority);
    const auto& used = m_model.priorities();
    for (const auto priority : shownOrder) {
        auto* item = new QListWidgetItem(text(KeeperPolicy::name(priority)), m_priorities);
        item->setData(priorityRole, static_cast<int>(priority));
        item->setToolTip("When it decides: \"" + text(KeeperPolicy::reason(priority)) + "\"");
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled);
        item->setCheckState(std::find(used.begin(), used.end(), priority) != used.end() ? Qt::Checked : Qt::Unchecked);
    }
    m_priorities->setCurrentRow(std::clamp(keepRow, 0, m_priorities->count() - 1));
    for (int index = 0; index < m_preset->count(); ++index)
        if (static_cast<SimilarityPreset>(m_preset->itemData(index).toInt()) == m_model.preset()) m_preset->setCurrentIndex(index);
    m_presetExplanation->setText(text(explanation(m_model.preset())));
    const QSignalBlocker quiet(m_protected);
    m_protected->clear();
    for (const auto& source : m_model.sources()) {
        auto* item = new QListWidgetItem(shownPath(m_model.host(), source.path), m_protected);
        item->setData(Qt::UserRole, qtPath(source.path));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(source.isProtected ? Qt::Checked : Qt::Unchecked);
    }
    if (m_model.sources().empty()) {
        auto* item = new QListWidgetItem("Add folders to protect them.", m_protected);
        item->setFlags(Qt::NoItemFlags);
    }
    m_theme->setCurrentIndex(static_cast<int>(storedTheme()));
}

void SettingsDialog::movePriority(int row, int step) {
    const int target = row + step;
    if (row < 0 || target < 0 || target >= m_priorities->count()) return;
    {
        const QSignalBlocker quiet(m_priorities);
        m_priorities->insertItem(target, m_priorities->takeItem(row));
    }
    applyPriorityOrder();
    m_priorities->setCurrentRow(target);
}

void SettingsDialog::applyPriorityOrder() {
    std::vector<KeeperPolicy::Priority> order;
    for (int row = 0; row < m_priorities->count(); ++row)
        if (m_priorities->item(row)->checkState() == Qt::Checked)
            order.push_back(static_cast<KeeperPolicy::Priority>(m_priorities->item(row)->data(priorityRole).toInt()));
    m_model.setPriorities(order);
}

} // namespace vp::gui
