// Shrink Videos & Photos: the chosen folders' big videos (to HEVC at most 1080p), Live Photos
// (keep only the still) and JPEG and TIFF photos (to HEIC), each in its own list with tick
// boxes. Scan and Cancel with progress; Review… shows the plan and asks; a running compression
// shows its progress per file and in bytes, with Stop; the report follows, file by file, with
// Show in Trash and Use Original. Everything shown is read from the model after each change.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <set>

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace vp::gui {

class MediaWindow : public QWidget {
    Q_OBJECT
public:
    enum class List { videos, livePhotos, photos };

    explicit MediaWindow(PhotoCleanupModel& model, QWidget* parent = nullptr);
    ~MediaWindow() override;

    /// Scans the videos and Live Photos, and the photos, of the chosen folders.
    void scan();
    void cancel();
    /// Plans the ticked files of the list shown and asks; true when the person confirmed and
    /// the work started.
    bool review();
    void showList(List list);
    List shownList() const;
    QTreeWidget* list(List list) const;

    QString scanProgressText() const;
    QString runText() const;
    QString footerText() const;
    QString noticeText() const;
    QPushButton* scanButton() const { return m_scan; }
    QPushButton* reviewButton() const { return m_review; }
    QPushButton* stopButton() const { return m_stop; }

    /// The report of a compression (videos or photos), and of the Live Photos kept as stills.
    void showCompressionReport(const Uuid& planID);
    void showLiveReport();

    /// Dialogs go through here, so a test can answer them.
    std::function<int(QDialog&)> runDialog;

private:
    void refresh();
    void refreshLists();
    void refreshRun();
    void ticked(QTreeWidgetItem* item);

    PhotoCleanupModel& m_model;
    std::size_t m_observation = 0;
    QLabel* m_folders;
    QPushButton* m_scan;
    QPushButton* m_cancel;
    QProgressBar* m_scanProgress;
    QLabel* m_scanText;
    QLabel* m_empty;
    QTabWidget* m_tabs;
    QTreeWidget* m_videos;
    QTreeWidget* m_live;
    QTreeWidget* m_photos;
    QLabel* m_footer;
    QPushButton* m_review;
    QWidget* m_run;
    QLabel* m_runText;
    QProgressBar* m_fileProgress;
    QProgressBar* m_byteProgress;
    QPushButton* m_stop;
    QLabel* m_notice;

    std::optional<MediaScan> m_shownMedia;
    std::optional<ImageScan> m_shownImages;
    bool m_filling = false;
    /// The files of the running compression, in plan order, to name the one being worked on.
    std::vector<std::pair<std::string, std::int64_t>> m_running; // name, size
    QString m_runVerb;
    bool m_keepingStills = false;
    std::set<std::string> m_shownReports; // ids of reports already shown, or there before the window
};

} // namespace vp::gui
