// The main window: sources on the left; on the right what to look for, then the results with
// their marks, and the line that tells what just happened. Everything it shows is read from
// the model after each change; everything it does is a call on the model.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QMainWindow>

#include <set>
#include <string>

class QLabel;
class QUrl;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace vp::gui {

class CleanupReportView;
class GroupListModel;
class HistoryWindow;
class MediaWindow;
class ResultsView;
class ScanPanel;
class SourcesPanel;
class ThumbnailLoader;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(PhotoCleanupModel& model, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The parts a person works with, reachable for the tests.
    ResultsView* results() const { return m_results; }
    SourcesPanel* sources() const { return m_sources; }
    ScanPanel* scanPanel() const { return m_scanPanel; }
    ThumbnailLoader& thumbnails() const { return *m_thumbnails; }
    QLabel* notice() const { return m_notice; }
    QString pageName() const;

    /// Review Plan: turns the marks into a plan and asks for approval; true when approved.
    bool reviewPlan();
    void openCompare(const std::vector<std::string>& paths);
    void openHistory();
    /// Shrink Videos & Photos: its own window beside this one, made on first use.
    MediaWindow* openMedia();
    void openSettings();
    void showAbout();
    /// The report of the cleanup that just ran, with Show in Trash and Put Back.
    void showCleanupReport();
    /// The files and folders the scan did not compare, each with its reason.
    void showLeftOut();
    /// What adding to the review album did: added, skipped.
    void showAlbumReport();
    /// What a marking in a catalog did: marked, skipped, where the backup is.
    void showMarkingReport(const Uuid& id);

    /// Folders dropped on the window (links to local files) join the folders to check.
    void addDropped(const QList<QUrl>& urls);

    /// Dialogs the window opens go through here, so a test can answer them.
    std::function<int(QDialog&)> runDialog;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void refresh();

    PhotoCleanupModel& m_model;
    std::size_t m_observation = 0;
    std::unique_ptr<ThumbnailLoader> m_thumbnails;
    std::unique_ptr<GroupListModel> m_groups;
    SourcesPanel* m_sources;
    ScanPanel* m_scanPanel;
    QStackedWidget* m_pages;
    QWidget* m_emptyPage;
    QLabel* m_emptyText = nullptr;
    QPushButton* m_emptyAction;
    QWidget* m_readyPage;
    QLabel* m_readyText;
    QWidget* m_scanningPage;
    QLabel* m_scanningText;
    QWidget* m_resultsPage;
    ResultsView* m_results;
    QLabel* m_noGroups;
    QLabel* m_leftOutLine;
    QPushButton* m_showLeftOut;
    QWidget* m_executingPage;
    QLabel* m_executingText;
    QProgressBar* m_executingProgress;
    QPushButton* m_stopAfterThis;
    QLabel* m_notice;
    QLabel* m_marksSummary;
    QPushButton* m_markSuggested;
    QPushButton* m_reviewPlan;
    std::optional<Uuid> m_shownReport;
    std::set<std::string> m_shownMarkings; // ids of markings and album additions whose report was shown
    std::int64_t m_planSize = 0;
    MediaWindow* m_media = nullptr;
};

} // namespace vp::gui
