#include "MediaPlanDialog.h"

#include "Texts.h"

#include "engine/common/Text.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QHeaderView>
#include <QTreeWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace vp::gui {

namespace {

const char* const trashLine = "Every file is checked again right before it is replaced; anything that changed since the scan "
                              "stays as it is. The originals go to the Trash, from where Use Original puts them back.";

} // namespace

MediaPlanText MediaPlanText::of(const PhotoCleanupHost& host, const CompressionPlan& plan) {
    MediaPlanText text;
    const auto count = static_cast<std::int64_t>(plan.videos.size());
    text.question = QString("Compress %1 (%2)?").arg(countText(count, "video", "videos"), bytesText(plan.totalBytes()));
    text.lines << QString("About %1 saved: each becomes an HEVC copy at most 1080p, which must play to its end, "
                          "as long as the original and with its sound, before it takes the original's name.")
                      .arg(bytesText(plan.estimatedSavings()));
    text.lines << trashLine;
    text.headers = {"Video", "Size", "As HEVC, about", "Folder"};
    for (const auto& video : plan.videos)
        text.files.push_back({shown(video.name()), bytesText(video.snapshot.size), bytesText(video.estimatedSize.value_or(0)),
                              shownPath(host, video.folder())});
    text.confirm = "Compress";
    return text;
}

MediaPlanText MediaPlanText::of(const PhotoCleanupHost& host, const CleanupPlan& livePhotos) {
    MediaPlanText text;
    const auto count = static_cast<std::int64_t>(livePhotos.removals.size());
    text.question = QString("Keep only the stills of %1?").arg(countText(count, "Live Photo", "Live Photos"));
    text.lines << QString("The movies (%1) go to the Trash; the stills stay exactly as they are. A movie whose still "
                          "changed or went away since the scan is left alone.")
                      .arg(bytesText(livePhotos.totalBytes()));
    text.lines << "Everything can be put back from the Trash.";
    text.headers = {"Movie", "Size", "Still kept", "Folder"};
    text.sizeColumns = 1;
    for (const auto& removal : livePhotos.removals) {
        const std::string& path = removal.path;
        text.files.push_back({shown(lastPathComponent(path)), bytesText(removal.snapshot.size),
                              removal.keepers.empty() ? QString() : shown(lastPathComponent(removal.keepers.front().path)),
                              shownPath(host, path.substr(0, path.rfind('/')))});
    }
    text.confirm = "Keep Stills";
    return text;
}

MediaPlanText MediaPlanText::of(const PhotoCleanupHost& host, const ImageCompressionPlan& plan, std::int64_t sampled) {
    MediaPlanText text;
    const auto count = static_cast<std::int64_t>(plan.images.size());
    text.question = QString("Convert %1 (%2) to HEIC?").arg(countText(count, "photo", "photos"), bytesText(plan.totalBytes()));
    text.lines << QString("About %1 saved, measured on %2. Each copy keeps the picture's size in pixels, its orientation "
                          "and its capture date, and is named after the photo with the extension heic.")
                      .arg(bytesText(plan.estimatedSavings()), countText(sampled, "photo", "photos"));
    text.lines << trashLine;
    text.headers = {"Photo", "Size", "As HEIC, about", "Folder"};
    for (const auto& image : plan.images)
        text.files.push_back({shown(image.name()), bytesText(image.snapshot.size), bytesText(image.estimatedSize.value_or(0)),
                              shownPath(host, image.folder())});
    text.confirm = "Convert";
    return text;
}

MediaPlanDialog::MediaPlanDialog(const MediaPlanText& text, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Review the Plan");
    setModal(true);
    resize(720, 420);
    auto* layout = new QVBoxLayout(this);
    auto* headline = new QLabel(text.question, this);
    emphasise(*headline, 4);
    layout->addWidget(headline);
    m_lines << text.question;
    for (const auto& line : text.lines) {
        auto* label = new QLabel(line, this);
        label->setWordWrap(true);
        layout->addWidget(label);
        m_lines << line;
    }
    auto* files = new QTreeWidget(this);
    files->setAccessibleName("Files in the plan");
    files->setRootIsDecorated(false);
    files->setUniformRowHeights(true);
    files->setSelectionMode(QAbstractItemView::NoSelection);
    files->setHeaderLabels(text.headers);
    files->setColumnWidth(0, 240);
    files->setColumnWidth(2, 140);
    for (int column = 1; column <= text.sizeColumns; ++column) {
        files->setColumnWidth(column, 110);
        files->headerItem()->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
    for (const auto& texts : text.files) {
        auto* row = new QTreeWidgetItem(files, texts);
        for (int column = 1; column <= text.sizeColumns; ++column) row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
    layout->addWidget(files, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* confirm = buttons->addButton(text.confirm, QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    confirm->setObjectName("confirm");
    confirm->setDefault(false); // Enter alone never confirms a plan
    buttons->button(QDialogButtonBox::Cancel)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace vp::gui
