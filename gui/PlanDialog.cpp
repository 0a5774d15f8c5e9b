#include "PlanDialog.h"

#include "Texts.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vp::gui {

PlanDialog::PlanDialog(const PhotoCleanupModel& model, const CleanupPlan& plan, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Review the Plan");
    setModal(true);
    const auto count = static_cast<std::int64_t>(plan.removals.size());
    auto* layout = new QVBoxLayout(this);
    auto* headline = new QLabel(QString("Move %1 (%2) to the Trash?")
                                    .arg(countText(count, "picture", "pictures"), bytesText(plan.totalBytes())),
                                this);
    emphasise(*headline, 4);
    layout->addWidget(headline);
    m_lines << headline->text();

    const auto addLine = [&](const QString& text, bool warning = false) {
        auto* label = new QLabel(text, this);
        label->setWordWrap(true);
        if (warning) {
            emphasise(*label);
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText, QColor(0xc0, 0x39, 0x2b));
            label->setPalette(palette);
        }
        layout->addWidget(label);
        m_lines << text;
    };
    for (const auto& volume : plan.volumes())
        addLine(QString("On %1: %2").arg(shown(volume.name), countText(volume.count, "picture", "pictures")));
    if (const auto cloud = plan.cloudSyncedCount())
        addLine(QString("%1 in cloud-synchronised folders: the cloud copy goes to its own trash too.")
                    .arg(countText(cloud, "picture is", "pictures are")));
    if (const auto external = plan.externalCount())
        addLine(QString("%1 on external drives: they go to that drive's own Trash.")
                    .arg(countText(external, "picture is", "pictures are")));
    if (const auto differ = model.notIdentical(plan))
        addLine(QString("%1 not byte-identical to the copy kept: other versions of a photo. Look at them first.")
                    .arg(countText(differ, "picture is", "pictures are")),
                true);
    addLine("Every picture is checked again right before it moves; anything that changed since the scan stays. "
            "Everything can be put back from the Trash.");

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* confirm = buttons->addButton("Move to Trash", QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    confirm->setObjectName("confirm");
    confirm->setDefault(false); // Enter alone never confirms a plan
    buttons->button(QDialogButtonBox::Cancel)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace vp::gui
