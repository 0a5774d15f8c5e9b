#include "MainWindow.h"

#include "CleanupReportView.h"
#include "CompareDialog.h"
#include "FileManager.h"
#include "GroupListModel.h"
#include "HistoryWindow.h"
#include "MediaWindow.h"
#include "PlanDialog.h"
#include "ResultsView.h"
#include "ScanPanel.h"
#include "SettingsDialog.h"
#include "SourcesPanel.h"
#include "Texts.h"
#include "ThumbnailLoader.h"

#include "engine/common/Text.h"
#include "model/CatalogMarkings.h"
#include "model/LeftOut.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QVBoxLayout>

#include <sys/stat.h>

// The icon is compiled into this static library; its resources must be registered by hand.
static void registerResources() { Q_INIT_RESOURCE(resources); }

namespace vp::gui {

namespace {

QWidget* centredPage(QWidget* parent, QLabel*& text, QWidget* extra = nullptr) {
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->addStretch(1);
    text = new QLabel(page);
    text->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);
    emphasise(*text, 3, false);
    layout->addWidget(text);
    if (extra) layout->addWidget(extra, 0, Qt::AlignHCenter);
    layout->addStretch(2);
    return page;
}

/// The exact bytes of a dropped local file's path.
std::optional<std::string> droppedPath(const QUrl& url) {
    if (!url.isLocalFile()) return std::nullopt;
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

bool isFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

MainWindow::MainWindow(PhotoCleanupModel& model, QWidget* parent)
    : QMainWindow(parent), m_model(model), m_thumbnails(std::make_unique<ThumbnailLoader>(GroupLayout::thumbnailSide, devicePixelRatioF())),
      m_groups(std::make_unique<GroupListModel>(model)) {
    registerResources();
    runDialog = [](QDialog& dialog) { return dialog.exec(); };
    setWindowTitle(QString::fromStdString(model.host().appName));
    setWindowIcon(QIcon::fromTheme("velmo-pristel", QIcon(":/velmo-pristel.svg")));
    setAcceptDrops(true);
    resize(1240, 820);

    auto* splitter = new QSplitter(this);
    m_sources = new SourcesPanel(model, splitter);
    m_sources->setMinimumWidth(220);
    splitter->addWidget(m_sources);
    auto* right = new QWidget(splitter);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    m_scanPanel = new ScanPanel(model, right);
    rightLayout->addWidget(m_scanPanel);

    m_pages = new QStackedWidget(right);
    m_emptyAction = new QPushButton("Add Folder…");
    connect(m_emptyAction, &QPushButton::clicked, this, [this] {
        if (m_model.scope() != Scope::folders) m_sources->chooseSource();
        else m_sources->chooseFolders();
    });
    m_emptyPage = centredPage(m_pages, m_emptyText, m_emptyAction);
    m_emptyText->setText("Choose folders to check.");
    m_readyPage = centredPage(m_pages, m_readyText);
    m_scanningPage = centredPage(m_pages, m_scanningText);
    m_resultsPage = new QWidget(m_pages);
    auto* resultsLayout = new QVBoxLayout(m_resultsPage);
    resultsLayout->setContentsMargins(0, 0, 0, 0);
    m_results = new ResultsView(*m_groups, *m_thumbnails, m_resultsPage);
    m_noGroups = new QLabel(m_resultsPage);
    m_noGroups->setAlignment(Qt::AlignCenter);
    emphasise(*m_noGroups, 3, false);
    resultsLayout->addWidget(m_results, 1);
    resultsLayout->addWidget(m_noGroups, 1);
    auto* leftOutBar = new QHBoxLayout;
    leftOutBar->setContentsMargins(12, 4, 12, 4);
    m_leftOutLine = new QLabel(m_resultsPage);
    m_leftOutLine->setAccessibleName("Left out of the scan");
    m_showLeftOut = new QPushButton("Show…", m_resultsPage);
    m_showLeftOut->setFlat(true);
    leftOutBar->addWidget(m_leftOutLine, 1);
    leftOutBar->addWidget(m_showLeftOut);
    resultsLayout->addLayout(leftOutBar);
    connect(m_showLeftOut, &QPushButton::clicked, this, &MainWindow::showLeftOut);
    m_stopAfterThis = new QPushButton("Stop After This One");
    m_executingPage = centredPage(m_pages, m_executingText, m_stopAfterThis);
    m_executingProgress = new QProgressBar(m_executingPage);
    m_executingProgress->setMaximumWidth(420);
    qobject_cast<QVBoxLayout*>(m_executingPage->layout())->insertWidget(2, m_executingProgress, 0, Qt::AlignHCenter);
    for (QWidget* page : {m_emptyPage, m_readyPage, m_scanningPage, m_resultsPage, m_executingPage}) m_pages->addWidget(page);
    rightLayout->addWidget(m_pages, 1);

    auto* bottom = new QWidget(right);
    auto* bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(12, 6, 12, 8);
    m_notice = new QLabel(bottom);
    m_notice->setWordWrap(true);
    m_notice->setAccessibleName("Notice");
    m_marksSummary = new QLabel(bottom);
    m_markSuggested = new QPushButton("Mark Suggested Copies in Every Group", bottom);
    m_reviewPlan = new QPushButton("Review Plan…", bottom);
    bottomLayout->addWidget(m_notice, 1);
    bottomLayout->addWidget(m_marksSummary);
    bottomLayout->addWidget(m_markSuggested);
    bottomLayout->addWidget(m_reviewPlan);
    rightLayout->addWidget(bottom);
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({250, 990});
    setCentralWidget(splitter);

    connect(m_markSuggested, &QPushButton::clicked, this, [this] { m_model.markSuggested(); });
    connect(m_reviewPlan, &QPushButton::clicked, this, [this] { reviewPlan(); });
    connect(m_stopAfterThis, &QPushButton::clicked, this, [this] {
        m_model.stopAfterThisOne();
        m_stopAfterThis->setEnabled(false);
        m_stopAfterThis->setText("Stopping after this one…");
    });
    connect(m_results, &ResultsView::compareRequested, this, &MainWindow::openCompare);
    connect(m_results, &ResultsView::showInFolderRequested, this, [](const std::string& path) { showInFileManager(path); });

    buildMenus();
    m_observation = m_model.observe([this] { refresh(); });
    refresh();
}

MainWindow::~MainWindow() { m_model.unobserve(m_observation); }

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction("&Add Folder…", QKeySequence::Open, this, [this] { m_sources->chooseFolders(); });
    file->addSeparator();
    file->addAction("&Quit", QKeySequence::Quit, this, &QWidget::close);
    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->addAction("&Settings…", QKeySequence::Preferences, this, &MainWindow::openSettings);
    QMenu* review = menuBar()->addMenu("&Review");
    review->addAction("&Scan", QKeySequence::Refresh, this, [this] { m_model.scan(); });
    review->addAction("Mark Suggested Copies in Every Group", this, [this] { m_model.markSuggested(); });
    review->addAction("&Clear All Marks", this, [this] { m_model.clearMarks(); });
    review->addSeparator();
    review->addAction("Review &Plan…", this, [this] { reviewPlan(); });
    QMenu* window = menuBar()->addMenu("&Window");
    window->addAction("Cleanup &History…", this, &MainWindow::openHistory);
    window->addAction("Shrink &Videos && Photos…", QKeySequence("Ctrl+Shift+M"), this, [this] { openMedia(); });
    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction("&About Velmo Pristel", this, &MainWindow::showAbout);
}

QString MainWindow::pageName() const {
    const QWidget* page = m_pages->currentWidget();
    if (page == m_emptyPage) return "empty";
    if (page == m_readyPage) return "ready";
    if (page == m_scanningPage) return "scanning";
    if (page == m_resultsPage) return "results";
    if (page == m_executingPage) return "executing";
    return {};
}

void MainWindow::refresh() {
    m_thumbnails->setPreviewSource(m_model.libraryPreviews()); // the library chosen now
    m_sources->refresh();
    m_scanPanel->refresh();
    m_groups->refresh();
    const auto& notice = m_model.notice();
    m_notice->setText(notice ? shown(*notice) : QString());

    switch (m_model.phase()) {
    case Phase::idle: {
        const Scope scope = m_model.scope();
        const bool catalog = scope == Scope::lightroom || scope == Scope::captureOne;
        const auto& catalogURL = scope == Scope::lightroom ? m_model.lightroomCatalogURL() : m_model.captureOneCatalogURL();
        if (scope == Scope::photosLibrary && m_model.canScan()) {
            m_readyText->setText("Press Scan to look for copies in the Shotwell library.");
            m_pages->setCurrentWidget(m_readyPage);
        } else if (scope == Scope::photosLibrary) {
            m_emptyText->setText("No Shotwell library Velmo Pristel can read was found. Choose its photo.db.");
            m_emptyAction->setText("Choose Library…");
            m_pages->setCurrentWidget(m_emptyPage);
        } else if (catalog && m_model.canScan() && catalogURL) {
            m_readyText->setText(QString("Press Scan to look for copies in %1.").arg(shown(lastPathComponent(*catalogURL))));
            m_pages->setCurrentWidget(m_readyPage);
        } else if (catalog) {
            m_emptyText->setText(scope == Scope::lightroom ? "Choose a Lightroom Classic catalog (.lrcat)."
                                                           : "Choose a Capture One catalog (.cocatalog).");
            m_emptyAction->setText("Choose Catalog…");
            m_pages->setCurrentWidget(m_emptyPage);
        } else if (m_model.sources().empty()) {
            m_emptyText->setText("Choose folders to check.");
            m_emptyAction->setText("Add Folder…");
            m_pages->setCurrentWidget(m_emptyPage);
        } else {
            m_readyText->setText(
                QString("Press Scan to look for copies in %1.")
                    .arg(countText(static_cast<std::int64_t>(m_model.sources().size()), "folder", "folders")));
            m_pages->setCurrentWidget(m_readyPage);
        }
        break;
    }
    case Phase::scanning:
        m_scanningText->setText(m_scanPanel->progressText() + QString::fromUtf8("…"));
        m_pages->setCurrentWidget(m_scanningPage);
        break;
    case Phase::results: {
        const auto leftOutItems = m_model.result() ? leftOut(*m_model.result(), m_model.similarity().get())
                                                   : std::vector<LeftOut>{};
        m_leftOutLine->setText(leftOutItems.empty() ? QString()
                                                    : "Left out of the scan: " + shown(leftOutCounts(leftOutItems)) + ".");
        m_leftOutLine->setVisible(!leftOutItems.empty());
        m_showLeftOut->setVisible(!leftOutItems.empty());
        const bool none = m_groups->rowCount() == 0;
        m_results->setVisible(!none);
        m_noGroups->setVisible(none);
        if (none) {
            const auto compared = m_model.result() ? static_cast<std::int64_t>(m_model.result()->pictures.size()) : 0;
            const auto modeName = name(m_model.mode());
            m_noGroups->setText(QString("No %1 among %2.")
                                    .arg(QString::fromUtf8(modeName.data(), static_cast<qsizetype>(modeName.size())).toLower(),
                                         countText(compared, "picture", "pictures")));
        }
        if (m_pages->currentWidget() != m_resultsPage && !none) m_results->setFocus(); // the keys work at once
        m_pages->setCurrentWidget(m_resultsPage);
        break;
    }
    case Phase::executing: {
        const std::int64_t done = m_model.executionProgress();
        if (m_model.scope() == Scope::lightroom) m_executingText->setText("Backing up the catalog and marking the copies Rejected…");
        else if (m_model.scope() == Scope::captureOne) m_executingText->setText("Backing up the catalog and tagging the copies Red…");
        else if (m_model.scope() == Scope::photosLibrary) m_executingText->setText("Backing up the library and adding the copies to the review album…");
        else m_executingText->setText(QString("Moving pictures to the Trash: %1 of %2").arg(done).arg(m_planSize));
        m_executingProgress->setRange(0, static_cast<int>(std::max<std::int64_t>(m_planSize, 1)));
        m_executingProgress->setValue(static_cast<int>(done));
        m_pages->setCurrentWidget(m_executingPage);
        break;
    }
    }
    if (m_model.phase() != Phase::executing) {
        m_stopAfterThis->setEnabled(true);
        m_stopAfterThis->setText("Stop After This One");
    }

    const auto& session = m_model.session();
    const bool reviewing = m_model.phase() == Phase::results && session && !session->groups.empty();
    std::int64_t markedBytes = 0;
    if (session)
        for (const auto& path : session->marks())
            if (const PhotoAsset* picture = session->asset(path)) markedBytes += picture->snapshot.size;
    const auto marked = session ? static_cast<std::int64_t>(session->marks().size()) : 0;
    m_marksSummary->setText(reviewing && marked > 0
                                ? QString("%1 marked (%2)").arg(countText(marked, "picture", "pictures"), bytesText(markedBytes))
                                : QString());
    m_markSuggested->setEnabled(reviewing);
    m_reviewPlan->setEnabled(reviewing && marked > 0);

    // A cleanup that just finished shows its report once.
    if (const auto& report = m_model.report(); report && m_shownReport != report->planID && m_model.phase() != Phase::executing) {
        m_shownReport = report->planID;
        QMetaObject::invokeMethod(this, &MainWindow::showCleanupReport, Qt::QueuedConnection);
    }
    // So does an addition to the review album, and a marking in a catalog.
    if (const auto& album = m_model.albumReport(); album && !m_shownMarkings.contains(album->id.text()) &&
                                                  m_model.phase() != Phase::executing) {
        m_shownMarkings.insert(album->id.text());
        QMetaObject::invokeMethod(this, &MainWindow::showAlbumReport, Qt::QueuedConnection);
    }
    const auto& lightroom = m_model.lightroomReport();
    const auto& captureOne = m_model.captureOneReport();
    for (const std::optional<Uuid>& id : {lightroom ? std::optional(lightroom->id) : std::nullopt,
                                          captureOne ? std::optional(captureOne->id) : std::nullopt}) {
        if (id && !m_shownMarkings.contains(id->text()) && m_model.phase() != Phase::executing) {
            m_shownMarkings.insert(id->text());
            QMetaObject::invokeMethod(this, [this, id = *id] { showMarkingReport(id); }, Qt::QueuedConnection);
        }
    }
}

void MainWindow::showMarkingReport(const Uuid& id) {
    std::optional<MarkingRecord> marking;
    std::vector<MarkSkip> skipped;
    const auto take = [&](const auto& report) {
        if (!report || report->id != id) return;
        if (report->record) marking = *report->record;
        skipped = report->skipped;
    };
    take(m_model.lightroomReport());
    take(m_model.captureOneReport());
    QString text;
    if (marking) {
        const std::string backup = std::visit([](const auto& r) { return r.backupPath; }, *marking);
        text = shown(markingSummary(*marking)) + ".<p>A backup of the catalog is in " +
               shownPath(m_model.host(), backup).toHtmlEscaped() + ".</p><p>Delete them in " +
               (isLightroom(*marking) ? "Lightroom Classic" : "Capture One") +
               ", or take the marking back from Window › Cleanup History.</p>";
    } else {
        text = "Nothing was marked.";
    }
    if (!skipped.empty()) {
        text += "<p>Left as they were:</p><ul>";
        for (const auto& skip : skipped) text += "<li>" + (shown(skip.name) + " — " + shown(skip.reason)).toHtmlEscaped() + "</li>";
        text += "</ul>";
    }
    QMessageBox box(QMessageBox::Information, "Marked in the Catalog", text, QMessageBox::Close, this);
    box.setTextFormat(Qt::RichText);
    runDialog(box);
}

bool MainWindow::reviewPlan() {
    m_model.review();
    const auto plan = m_model.pendingPlan();
    if (!plan) return false;
    PlanDialog dialog(m_model, *plan, this);
    if (runDialog(dialog) != QDialog::Accepted) return false;
    m_planSize = static_cast<std::int64_t>(plan->removals.size());
    switch (m_model.scope()) {
    case Scope::lightroom: m_model.confirmMarkRejected(*plan); break;
    case Scope::captureOne: m_model.confirmTagRed(*plan); break;
    case Scope::folders:
    case Scope::photosLibrary: m_model.confirmAndExecute(*plan); break;
    }
    return true;
}

void MainWindow::showCleanupReport() {
    const auto& report = m_model.report();
    if (!report) return;
    QDialog dialog(this);
    dialog.setWindowTitle("Cleanup Report");
    dialog.resize(900, 480);
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new CleanupReportView(m_model, &dialog);
    view->show(report->planID);
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    runDialog(dialog);
}

void MainWindow::showAlbumReport() {
    const auto& album = m_model.albumReport();
    if (!album) return;
    QString text = QString::fromUtf8("%1 added to the review album “%2” in Shotwell.<p>Look at them there and delete "
                                     "the ones you do not want.</p>")
                       .arg(countText(static_cast<std::int64_t>(album->added.size()), "picture", "pictures"),
                            shown(album->album).toHtmlEscaped());
    if (!album->skipped.empty()) {
        text += "<p>Left as they were:</p><ul>";
        for (const auto& skip : album->skipped)
            text += "<li>" + (shown(skip.name) + QString::fromUtf8(" — ") + shown(skip.reason)).toHtmlEscaped() + "</li>";
        text += "</ul>";
    }
    QMessageBox box(QMessageBox::Information, "Added to the Review Album", text, QMessageBox::Close, this);
    box.setTextFormat(Qt::RichText);
    runDialog(box);
}

void MainWindow::showLeftOut() {
    if (!m_model.result()) return;
    QDialog dialog(this);
    dialog.setWindowTitle("Left Out of the Scan");
    dialog.resize(820, 440);
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new QListWidget(&dialog);
    list->setAccessibleName("Left out");
    for (const auto& item : leftOut(*m_model.result(), m_model.similarity().get())) {
        QString text = shown(words(item.reason, 1)) + ": " + shownPath(m_model.host(), item.path);
        if (item.detail) text += " (" + shown(*item.detail) + ")";
        new QListWidgetItem(text, list);
    }
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    runDialog(dialog);
}

void MainWindow::openCompare(const std::vector<std::string>& paths) {
    if (paths.empty()) return;
    CompareDialog dialog(m_model, paths, this);
    runDialog(dialog);
}

void MainWindow::openHistory() {
    m_model.reloadHistory();
    HistoryWindow window(m_model, this);
    runDialog(window);
}

MediaWindow* MainWindow::openMedia() {
    if (!m_media) {
        m_media = new MediaWindow(m_model, this);
        m_media->setWindowIcon(windowIcon());
    }
    m_media->show();
    m_media->raise();
    m_media->activateWindow();
    return m_media;
}

void MainWindow::openSettings() {
    SettingsDialog dialog(m_model, this);
    runDialog(dialog);
}

void MainWindow::showAbout() {
    QMessageBox about(QMessageBox::NoIcon, "About Velmo Pristel",
                      "<h3>Velmo Pristel " VP_VERSION "</h3>"
                      "<p>Finds exact copies, other versions of one photo and bursts in the folders you choose, "
                      "suggests which copy to keep and why, and moves only what you approve to the Trash, "
                      "from where anything can be put back.</p>"
                      "<p>Updates come from your distribution's package manager.</p>",
                      QMessageBox::Close, this);
    about.setIconPixmap(windowIcon().pixmap(64, 64));
    runDialog(about);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls()) return;
    for (const QUrl& url : event->mimeData()->urls())
        if (const auto path = droppedPath(url); path && isFolder(*path)) {
            event->acceptProposedAction();
            return;
        }
}

void MainWindow::dropEvent(QDropEvent* event) {
    event->acceptProposedAction();
    addDropped(event->mimeData()->urls());
}

void MainWindow::addDropped(const QList<QUrl>& urls) {
    std::vector<std::string> paths;
    for (const QUrl& url : urls)
        if (const auto path = droppedPath(url)) paths.push_back(*path);
    if (!paths.empty()) m_model.add(paths);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_model.phase() == Phase::executing) {
        // Closing mid-cleanup is safe (the journal settles it at the next start), but the
        // person should know the cleanup stops after the current picture.
        m_model.stopAfterThisOne();
    }
    QMainWindow::closeEvent(event);
}

} // namespace vp::gui
