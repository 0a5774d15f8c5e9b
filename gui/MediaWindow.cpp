#include "MediaWindow.h"

#include "CleanupReportView.h"
#include "CompressionReportView.h"
#include "MediaLists.h"
#include "MediaPlanDialog.h"
#include "Texts.h"

#include "engine/common/Text.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cmath>

namespace vp::gui {


MediaWindow::MediaWindow(PhotoCleanupModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window), m_model(model) {
    runDialog = [](QDialog& dialog) { return dialog.exec(); };
    setWindowTitle("Shrink Videos & Photos");
    resize(1000, 640);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 12);

    auto* title = new QLabel("Shrink Videos & Photos", this);
    emphasise(*title, 4);
    layout->addWidget(title);
    auto* about = new QLabel("Big videos become HEVC copies at most 1080p, Live Photos keep only their still, and JPEG and "
                             "TIFF photos become HEIC. Each copy is checked before it takes the original's place, and "
                             "every original goes to the Trash, from where it can be put back.",
                             this);
    about->setWordWrap(true);
    layout->addWidget(about);

    auto* scanBar = new QHBoxLayout;
    m_folders = new QLabel(this);
    m_folders->setAccessibleName("Folders");
    m_folders->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_scan = new QPushButton("Scan", this);
    m_cancel = new QPushButton("Cancel", this);
    m_scanProgress = new QProgressBar(this);
    m_scanProgress->setMaximumWidth(220);
    m_scanProgress->setTextVisible(false);
    m_scanText = new QLabel(this);
    m_scanText->setAccessibleName("Scan progress");
    scanBar->addWidget(m_folders, 1);
    scanBar->addWidget(m_scanText);
    scanBar->addWidget(m_scanProgress);
    scanBar->addWidget(m_scan);
    scanBar->addWidget(m_cancel);
    layout->addLayout(scanBar);

    m_empty = new QLabel(this);
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setWordWrap(true);
    emphasise(*m_empty, 2, false);
    layout->addWidget(m_empty, 1);

    m_tabs = new QTabWidget(this);
    m_videos = makeMediaList(m_tabs, {"Video", "Size", "Pixels", "Codec", "Length", "Saving", "Folder, or why it is left alone"},
                        "Videos");
    m_live = makeMediaList(m_tabs, {"Live Photo", "Movie size", "Movie", "Folder"}, "Live Photos");
    m_live->setColumnWidth(2, 200);
    m_live->headerItem()->setTextAlignment(2, Qt::AlignLeft | Qt::AlignVCenter); // a name, not a number
    m_photos = makeMediaList(m_tabs, {"Photo", "Size", "Pixels", "Format", "Saving", "Folder, or why it is left alone"},
                        "Photos to HEIC");
    m_tabs->addTab(m_videos, "Videos");
    m_tabs->addTab(m_live, "Live Photos");
    m_tabs->addTab(m_photos, "Photos to HEIC");
    layout->addWidget(m_tabs, 1);

    auto* footer = new QHBoxLayout;
    m_footer = new QLabel(this);
    m_footer->setAccessibleName("Ticked");
    m_review = new QPushButton("Review…", this);
    footer->addWidget(m_footer, 1);
    footer->addWidget(m_review);
    layout->addLayout(footer);

    // While a compression runs: which file, how far in it, how far in bytes of all, and Stop.
    m_run = new QWidget(this);
    auto* run = new QGridLayout(m_run);
    run->setContentsMargins(0, 6, 0, 0);
    m_runText = new QLabel(m_run);
    m_runText->setAccessibleName("Running");
    m_fileProgress = new QProgressBar(m_run);
    m_fileProgress->setRange(0, 100);
    m_fileProgress->setFormat("%p% of this file");
    m_byteProgress = new QProgressBar(m_run);
    m_stop = new QPushButton("Stop", m_run);
    run->addWidget(m_runText, 0, 0, 1, 3);
    run->addWidget(m_fileProgress, 1, 0);
    run->addWidget(m_byteProgress, 1, 1);
    run->addWidget(m_stop, 1, 2);
    run->setColumnStretch(0, 1);
    run->setColumnStretch(1, 1);
    layout->addWidget(m_run);
    connect(m_stop, &QPushButton::clicked, this, [this] {
        m_model.stopCompression();
        m_stop->setEnabled(false);
        m_stop->setText("Stopping…");
    });
    m_notice = new QLabel(this);
    m_notice->setWordWrap(true);
    m_notice->setAccessibleName("Notice");
    layout->addWidget(m_notice);

    connect(m_scan, &QPushButton::clicked, this, &MediaWindow::scan);
    connect(m_cancel, &QPushButton::clicked, this, &MediaWindow::cancel);
    connect(m_review, &QPushButton::clicked, this, [this] { review(); });
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] { refresh(); });
    for (QTreeWidget* list : {m_videos, m_live, m_photos})
        connect(list, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) { ticked(item); });

    // Reports that exist already belong to earlier runs: only new ones open by themselves.
    for (const auto* report : {&m_model.compressionReport(), &m_model.imageCompressionReport()})
        if (*report) m_shownReports.insert((*report)->planID.text());
    if (m_model.liveReport()) m_shownReports.insert(m_model.liveReport()->planID.text());
    m_observation = m_model.observe([this] { refresh(); });
    refresh();
}

MediaWindow::~MediaWindow() { m_model.unobserve(m_observation); }

void MediaWindow::scan() {
    m_model.scanMedia();
    m_model.scanImages();
}

void MediaWindow::cancel() {
    m_model.cancelMediaScan();
    m_model.cancelImageScan();
}

void MediaWindow::showList(List list) { m_tabs->setCurrentIndex(static_cast<int>(list)); }
MediaWindow::List MediaWindow::shownList() const { return static_cast<List>(m_tabs->currentIndex()); }

QTreeWidget* MediaWindow::list(List list) const {
    switch (list) {
    case List::videos: return m_videos;
    case List::livePhotos: return m_live;
    case List::photos: return m_photos;
    }
    return nullptr;
}

void MediaWindow::ticked(QTreeWidgetItem* item) {
    if (m_filling || !(item->flags() & Qt::ItemIsUserCheckable)) return;
    const std::string path = rowPath(*item);
    const bool on = item->checkState(0) == Qt::Checked;
    if (item->treeWidget() == m_videos) m_model.setVideoSelected(path, on);
    else if (item->treeWidget() == m_live) m_model.setLiveSelected(path, on);
    else m_model.setImageSelected(path, on);
}

bool MediaWindow::review() {
    const auto ask = [this](const MediaPlanText& text) {
        MediaPlanDialog dialog(text, this);
        return runDialog(dialog) == QDialog::Accepted;
    };
    switch (shownList()) {
    case List::videos: {
        m_model.reviewCompression();
        const auto plan = m_model.pendingCompression();
        if (!plan || !ask(MediaPlanText::of(m_model.host(), *plan))) return false;
        m_running.clear();
        for (const auto& video : plan->videos) m_running.push_back({video.name(), video.snapshot.size});
        m_runVerb = "Compressing";
        m_model.confirmCompression(*plan);
        return true;
    }
    case List::livePhotos: {
        m_model.reviewLiveStills();
        const auto plan = m_model.pendingLive();
        if (!plan || !ask(MediaPlanText::of(m_model.host(), *plan))) return false;
        m_keepingStills = true;
        m_model.confirmLiveStills(*plan);
        refresh();
        return true;
    }
    case List::photos: {
        m_model.reviewImageCompression();
        const auto plan = m_model.pendingImageCompression();
        const std::int64_t sampled = m_model.images() ? m_model.images()->sampled : 0;
        if (!plan || !ask(MediaPlanText::of(m_model.host(), *plan, sampled))) return false;
        m_running.clear();
        for (const auto& image : plan->images) m_running.push_back({image.name(), image.snapshot.size});
        m_runVerb = "Converting";
        m_model.confirmImageCompression(*plan);
        return true;
    }
    }
    return false;
}

QString MediaWindow::scanProgressText() const { return m_scanText->text(); }
QString MediaWindow::runText() const { return m_run->isVisible() ? m_runText->text() : QString(); }
QString MediaWindow::footerText() const { return m_footer->text(); }
QString MediaWindow::noticeText() const { return m_notice->text(); }

void MediaWindow::refresh() {
    QStringList folders;
    for (const auto& source : m_model.sources()) folders << shownPath(m_model.host(), source.path);
    m_folders->setText(folders.isEmpty() ? QString() : "In " + folders.join(", "));

    const bool scanning = m_model.mediaScanning() || m_model.imageScanning();
    m_scan->setEnabled(!scanning && (m_model.canScanMedia() || m_model.canScanImages()));
    m_cancel->setVisible(scanning);
    m_scanProgress->setVisible(scanning);
    QStringList steps;
    std::int64_t done = 0, total = 0;
    if (m_model.mediaScanning()) {
        const auto [videosDone, videos] = m_model.mediaProgress();
        steps << (videos > 0 ? QString("Examining videos: %1 of %2").arg(videosDone).arg(videos) : QString("Finding videos…"));
        done += videosDone;
        total += videos;
    }
    if (m_model.imageScanning()) {
        const auto& photos = m_model.imageProgress();
        steps << (photos.measuring ? QString("Measuring photos: %1 of %2").arg(photos.done).arg(photos.total)
                                   : QString("Finding photos: %1 found").arg(photos.found));
        done += photos.done;
        total += photos.total;
    }
    m_scanText->setText(steps.join(QString::fromUtf8(" · ")));
    m_scanProgress->setRange(0, static_cast<int>(std::max<std::int64_t>(total, 0))); // 0 of 0: busy
    m_scanProgress->setValue(static_cast<int>(done));

    refreshLists();

    const bool scanned = m_model.media() || m_model.images();
    m_tabs->setVisible(scanned);
    m_empty->setVisible(!scanned);
    const bool library = m_model.scope() == Scope::photosLibrary;
    if (library && m_model.canScanMedia())
        m_empty->setText("Press Scan to look for big videos and Live Photos in the Shotwell library. Photos are converted "
                         "to HEIC in folders only.");
    else if (m_model.scope() != Scope::folders)
        m_empty->setText("Videos, Live Photos and photos are shrunk in folders or in the Shotwell library: choose one as "
                         "the source in the main window.");
    else if (m_model.sources().empty())
        m_empty->setText("Add the folders to look in from the main window first.");
    else if (scanning)
        m_empty->setText(QString::fromUtf8("Looking for big videos, Live Photos and photos to convert…"));
    else
        m_empty->setText(QString("Press Scan to look for big videos, Live Photos and photos to convert in %1.")
                             .arg(countText(static_cast<std::int64_t>(m_model.sources().size()), "folder", "folders")));

    // What is ticked in the list shown, and what it would save.
    std::int64_t count = 0, bytes = 0, saving = 0;
    QString what;
    switch (shownList()) {
    case List::videos:
        what = "videos";
        if (m_model.media())
            for (const auto& video : m_model.media()->candidates())
                if (m_model.selectedVideos().contains(video.path)) ++count, bytes += video.snapshot.size, saving += video.estimatedSavings();
        break;
    case List::livePhotos:
        what = "Live Photos";
        if (m_model.media())
            for (const auto& pair : m_model.media()->livePairs)
                if (m_model.selectedLive().contains(pair.movie)) ++count, saving += pair.movieSize();
        break;
    case List::photos:
        what = "photos";
        if (m_model.images())
            for (const auto& image : m_model.images()->candidates())
                if (m_model.selectedImages().contains(image.path)) ++count, bytes += image.snapshot.size, saving += image.estimatedSavings();
        break;
    }
    if (count == 0) m_footer->setText(scanned ? QString("No %1 ticked.").arg(what) : QString());
    else if (shownList() == List::livePhotos)
        m_footer->setText(QString("%1 ticked: %2 of movies would go to the Trash.")
                              .arg(countText(count, "Live Photo", "Live Photos"), bytesText(saving)));
    else
        m_footer->setText(QString("%1 ticked (%2): about %3 saved.")
                              .arg(shownList() == List::videos ? countText(count, "video", "videos") : countText(count, "photo", "photos"),
                                   bytesText(bytes), bytesText(saving)));
    // Keeping stills has no progress of its own: it ends with its report, or with a refusal in the notice.
    if (m_keepingStills && m_model.notice()) m_keepingStills = false;
    const bool running = m_model.compressing().has_value() || m_keepingStills;
    // The library's Live Photos are kept as stills from the terminal (compress --library) for now.
    const bool libraryStills = library && shownList() == List::livePhotos;
    if (libraryStills && scanned) m_footer->setText("Keep the stills of the library's Live Photos with velmo-pristel compress --library.");
    m_review->setEnabled(scanned && !running && !scanning && !libraryStills);
    m_review->setVisible(scanned);

    refreshRun();
    const auto& notice = m_model.notice();
    m_notice->setText(notice ? shown(*notice) : QString());

    // A run that just finished shows its report once.
    if (!m_model.compressing()) {
        for (const auto* report : {&m_model.compressionReport(), &m_model.imageCompressionReport()})
            if (*report && !m_shownReports.contains((*report)->planID.text())) {
                m_shownReports.insert((*report)->planID.text());
                QMetaObject::invokeMethod(this, [this, id = (*report)->planID] { showCompressionReport(id); }, Qt::QueuedConnection);
            }
    }
    if (const auto& live = m_model.liveReport(); live && !m_shownReports.contains(live->planID.text())) {
        m_shownReports.insert(live->planID.text());
        m_keepingStills = false;
        QMetaObject::invokeMethod(this, &MediaWindow::showLiveReport, Qt::QueuedConnection);
    }
}

void MediaWindow::refreshRun() {
    const auto& progress = m_model.compressing();
    m_run->setVisible(progress.has_value() || m_keepingStills);
    if (!progress) {
        m_stop->setEnabled(true);
        m_stop->setText("Stop");
        if (m_keepingStills) m_runText->setText(QString::fromUtf8("Moving the Live Photos' movies to the Trash…"));
        m_fileProgress->setVisible(false);
        m_byteProgress->setVisible(false);
        m_stop->setVisible(false);
        return;
    }
    m_fileProgress->setVisible(true);
    m_byteProgress->setVisible(true);
    m_stop->setVisible(true);
    const auto at = static_cast<std::size_t>(progress->done);
    const QString name = at < m_running.size() ? shown(m_running[at].first) : QString();
    // The file being worked on counts by its share done.
    const std::int64_t runningBytes = at < m_running.size() ? m_running[at].second : 0;
    const std::int64_t bytesDone =
        std::min(progress->bytesTotal, progress->bytesDone + static_cast<std::int64_t>(progress->current * static_cast<double>(runningBytes)));
    if (progress->done < progress->total)
        m_runText->setText(QString("%1 %2 of %3: %4").arg(m_runVerb).arg(progress->done + 1).arg(progress->total).arg(name));
    else
        m_runText->setText(QString::fromUtf8("Finishing…"));
    // A photo is converted in one step with no share to tell: its bar is a busy one.
    const bool shares = m_runVerb != "Converting";
    m_fileProgress->setRange(0, shares ? 100 : 0);
    m_fileProgress->setValue(static_cast<int>(std::lround(progress->current * 100)));
    // Bytes in kibibytes, so that totals of many gigabytes fit the bar's int.
    m_byteProgress->setRange(0, static_cast<int>(std::max<std::int64_t>(progress->bytesTotal / 1024, 1)));
    m_byteProgress->setValue(static_cast<int>(bytesDone / 1024));
    m_byteProgress->setFormat(QString("%1 of %2 in all").arg(bytesText(bytesDone), bytesText(progress->bytesTotal)));
}

void MediaWindow::refreshLists() {
    m_filling = true;
    if (m_model.media() != m_shownMedia) {
        m_shownMedia = m_model.media();
        fillVideoList(m_videos, m_shownMedia.value_or(MediaScan{}), m_model.host());
        fillLivePhotoList(m_live, m_shownMedia.value_or(MediaScan{}), m_model.host());
    }
    if (m_model.images() != m_shownImages) {
        m_shownImages = m_model.images();
        fillPhotoList(m_photos, m_shownImages.value_or(ImageScan{}), m_model.host());
    }
    // Ticks follow the model (a new scan ticks every candidate).
    const auto sync = [](QTreeWidget* list, const std::set<std::string>& selected) {
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = list->topLevelItem(i);
            if (!(row->flags() & Qt::ItemIsUserCheckable)) continue;
            const bool on = selected.contains(rowPath(*row));
            if ((row->checkState(0) == Qt::Checked) != on) row->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
        }
    };
    sync(m_videos, m_model.selectedVideos());
    sync(m_live, m_model.selectedLive());
    sync(m_photos, m_model.selectedImages());
    m_filling = false;

    const auto media = m_model.media();
    const auto count = [](std::size_t n) { return n == 0 ? QString() : QString(" (%1)").arg(n); };
    m_tabs->setTabText(0, "Videos" + count(media ? media->candidates().size() : 0));
    m_tabs->setTabText(1, "Live Photos" + count(media ? media->livePairs.size() : 0));
    m_tabs->setTabText(2, "Photos to HEIC" + count(m_model.images() ? m_model.images()->candidates().size() : 0));
}

void MediaWindow::showCompressionReport(const Uuid& planID) {
    QDialog dialog(this);
    dialog.setWindowTitle("Compression Report");
    dialog.resize(900, 440);
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new CompressionReportView(m_model, &dialog);
    view->show(planID);
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    runDialog(dialog);
}

void MediaWindow::showLiveReport() {
    const auto& report = m_model.liveReport();
    if (!report) return;
    QDialog dialog(this);
    dialog.setWindowTitle("Live Photos Report");
    dialog.resize(900, 440);
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new CleanupReportView(m_model, &dialog);
    view->show(report->planID);
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    runDialog(dialog);
}

} // namespace vp::gui
