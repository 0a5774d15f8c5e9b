#include "PlanDialog.h"

#include "Texts.h"

#include "engine/common/Text.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vp::gui {

PlanDialog::PlanDialog(const PhotoCleanupModel& model, const CleanupPlan& plan, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Review the Plan");
    setModal(true);
    const auto count = static_cast<std::int64_t>(plan.removals.size());
    const Scope scope = model.scope();
    const bool lightroom = scope == Scope::lightroom, catalog = lightroom || scope == Scope::captureOne;
    const bool library = scope == Scope::photosLibrary;
    const QString album = QString::fromUtf8(ReviewAlbum::name.data(), static_cast<qsizetype>(ReviewAlbum::name.size()));
    const auto& catalogURL = lightroom ? model.lightroomCatalogURL() : model.captureOneCatalogURL();
    const QString catalogName = catalogURL ? shown(lastPathComponent(*catalogURL)) : QString();
    auto* layout = new QVBoxLayout(this);
    const QString question =
        library ? QString::fromUtf8("Add %1 to the review album “%2”?").arg(countText(count, "picture", "pictures"), album)
        : !catalog ? QString("Move %1 (%2) to the Trash?").arg(countText(count, "picture", "pictures"), bytesText(plan.totalBytes()))
        : lightroom ? QString("Mark %1 Rejected in %2?").arg(countText(count, "picture", "pictures"), catalogName)
                    : QString("Tag %1 Red in %2?").arg(countText(count, "picture", "pictures"), catalogName);
    auto* headline = new QLabel(question, this);
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
    if (catalog) {
        const QString program = lightroom ? "Lightroom Classic" : "Capture One";
        addLine(QString("Nothing is moved or deleted here: the photos are %1, and you delete them in %2.")
                    .arg(lightroom ? "marked Rejected" : "tagged Red", program));
        addLine(QString("%1 must be closed. The catalog is backed up first, into “Velmo Pristel Backups” beside it, "
                        "and changed in one step: all of the photos or none.")
                    .arg(program));
    }
    if (library) {
        addLine(QString::fromUtf8("Nothing is moved or deleted here: the photos are tagged “%1” in Shotwell, where you "
                                  "look at them and delete the ones you do not want.")
                    .arg(album));
        addLine("Shotwell must be closed. Its database is backed up first, beside it, and changed in one step.");
    }
    const bool elsewhere = catalog || library; // nothing moves on disk
    for (const auto& volume : elsewhere ? std::vector<VolumeCount>{} : plan.volumes())
        addLine(QString("On %1: %2").arg(shown(volume.name), countText(volume.count, "picture", "pictures")));
    if (const auto cloud = elsewhere ? 0 : plan.cloudSyncedCount())
        addLine(QString("%1 in cloud-synchronised folders: the cloud copy goes to its own trash too.")
                    .arg(countText(cloud, "picture is", "pictures are")));
    if (const auto external = elsewhere ? 0 : plan.externalCount())
        addLine(QString("%1 on external drives: they go to that drive's own Trash.")
                    .arg(countText(external, "picture is", "pictures are")));
    if (const auto differ = model.notIdentical(plan))
        addLine(QString("%1 not byte-identical to the copy kept: other versions of a photo. Look at them first.")
                    .arg(countText(differ, "picture is", "pictures are")),
                true);
    addLine(elsewhere ? QString("Every photo is checked again first; anything that changed since the scan is left alone. ") +
                            (library ? "The tag can be taken off in Shotwell." : "Cleanup History can take the marking back.")
                    : "Every picture is checked again right before it moves; anything that changed since the scan stays. "
                      "Everything can be put back from the Trash.");

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* confirm = buttons->addButton(library ? "Add to Album" : !catalog ? "Move to Trash" : lightroom ? "Mark Rejected" : "Tag Red",
                                              QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    confirm->setObjectName("confirm");
    confirm->setDefault(false); // Enter alone never confirms a plan
    buttons->button(QDialogButtonBox::Cancel)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace vp::gui
