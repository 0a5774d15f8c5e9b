// Shrink Videos & Photos over the real model, offscreen, on real clips and pictures: scan, tick,
// review, compress with progress, keep Live Photo stills, convert photos to HEIC and use an
// original again. Each screen is saved as a PNG for a person to look at.
#include "gui/CompressionReportView.h"
#include "gui/EventLoopQueue.h"
#include "gui/MainWindow.h"
#include "gui/MediaPlanDialog.h"
#include "gui/MediaWindow.h"
#include "gui/Theme.h"

#include "engine/common/PathRules.h"
#include "platform/image/Images.h"
#include "tests/support/Clips.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>

using namespace vp;
using namespace vp::gui;

namespace {

void save(QWidget& widget, const QString& name) {
    QDir().mkpath(VP_SCREENSHOT_DIR);
    QCoreApplication::processEvents(); // layouts settle as they would before the next frame
    widget.grab().save(QString(VP_SCREENSHOT_DIR) + "/" + name + ".png");
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

QTreeWidgetItem* row(QTreeWidget* list, const QString& name) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == name) return list->topLevelItem(i);
    return nullptr;
}

} // namespace

class MediaWindowTests : public QObject {
    Q_OBJECT

    testing::TempDir home;
    std::string base = *PathRules::real(home.path());
    std::string media = base + "/Media";
    MainQueue queue;
    std::unique_ptr<EventLoopQueue> loop;
    std::unique_ptr<PhotoCleanupModel> model;
    std::unique_ptr<MainWindow> window;
    MediaWindow* shrink = nullptr;

    void waitForScans() {
        QTRY_VERIFY_WITH_TIMEOUT(!model->mediaScanning() && !model->imageScanning(), 120000);
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void initTestCase() {
        ::setenv("XDG_DATA_HOME", (base + "/share").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (base + "/cache").c_str(), 1);
        home.folder("Media");
        home.folder("Media/Phone");
        home.folder("Media/Scans");
        // Short clips saved generously, so an HEVC copy saves much; one already small HEVC.
        testing::makeClip(media + "/Beach day.mp4", {.width = 640, .height = 360, .seconds = 2.0, .frameRate = 15, .quality = 4});
        testing::makeClip(media + "/Birthday.mov", {.width = 480, .height = 270, .seconds = 2.0, .frameRate = 15, .quality = 4});
        testing::makeClip(media + "/Clip from phone.mp4", {.width = 320, .height = 240, .seconds = 2.0, .video = "hevc"});
        testing::writePicture(media + "/Phone/IMG_0042.HEIC", {.width = 400, .height = 300, .detailed = true});
        testing::makeClip(media + "/Phone/IMG_0042.MOV",
                          {.width = 320, .height = 240, .seconds = 1.5, .contentIdentifier = "5A1B2C3D-42"});
        testing::writePicture(media + "/Phone/IMG_1.jpg", {.width = 900, .height = 600, .orientation = 6,
                                                           .dateTimeOriginal = "2021:06:12 09:14:03", .detailed = true},
                              "Q=98");
        testing::writePicture(media + "/Scans/page 1.tif", {.width = 700, .height = 500, .detailed = true});
        // A name that is not UTF-8 (Latin-1, from an old camera card): ticked by its exact bytes.
        testing::writePicture(media + "/Scans/caf\xe9.jpg", {.width = 900, .height = 600, .detailed = true}, "Q=98");
        testing::writePicture(media + "/small.jpg", {.width = 64, .height = 48, .detailed = true}, "Q=90");
        testing::writePicture(media + "/screenshot.png", {.width = 600, .height = 400, .detailed = true});

        loop = std::make_unique<EventLoopQueue>(queue);
        PhotoCleanupHost host;
        host.homeFolder = base;
        model = std::make_unique<PhotoCleanupModel>(host, AppFolders{base + "/config", base + "/data", base + "/Downloads"},
                                                    queue);
        applyTheme(Theme::light);
        window = std::make_unique<MainWindow>(*model);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void theWindowMenuOpensItAndItAsksForAScan() {
        QAction* open = nullptr;
        for (QAction* action : window->findChildren<QAction*>())
            if (action->text() == QString::fromUtf8("Shrink &Videos && Photos…")) open = action;
        QVERIFY(open != nullptr);
        open->trigger();
        shrink = window->findChild<MediaWindow*>();
        QVERIFY(shrink != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(shrink));
        QVERIFY(!shrink->scanButton()->isEnabled()); // no folder yet
        model->add({media});
        QTRY_VERIFY_WITH_TIMEOUT(model->phase() == Phase::results, 60000);
        QVERIFY(shrink->scanButton()->isEnabled());
        save(*shrink, "media-01-ready");
    }

    void aScanListsTheThreeKinds() {
        QStringList progress;
        const auto token = model->observe([&] { progress << shrink->scanProgressText(); });
        shrink->scan();
        QVERIFY(!shrink->scanButton()->isEnabled());
        waitForScans();
        model->unobserve(token);
        QVERIFY2(progress.filter("Examining videos: ").size() > 0, qPrintable(progress.join("\n")));
        // Four movies examined: the Live Photo's too.
        QVERIFY2(progress.filter("Examining videos: 4 of 4").size() > 0, qPrintable(progress.join("\n")));
        QVERIFY2(progress.contains("Measuring photos: 3 of 3"), qPrintable(progress.join("\n")));

        QTreeWidget* videos = shrink->list(MediaWindow::List::videos);
        QCOMPARE(videos->topLevelItemCount(), 3);
        QVERIFY(row(videos, "Beach day.mp4") && row(videos, "Beach day.mp4")->checkState(0) == Qt::Checked);
        QCOMPARE(row(videos, "Beach day.mp4")->text(2), QString::fromUtf8("640 × 360"));
        QCOMPARE(row(videos, "Beach day.mp4")->text(3), QString("H.264"));
        QTreeWidgetItem* small = row(videos, "Clip from phone.mp4");
        QVERIFY(small != nullptr);
        QVERIFY(!(small->flags() & Qt::ItemIsUserCheckable));
        QCOMPARE(small->text(6), QString("Already HEVC at 1080p or smaller"));
        QCOMPARE(shrink->list(MediaWindow::List::livePhotos)->topLevelItemCount(), 1);
        QTreeWidget* photos = shrink->list(MediaWindow::List::photos);
        QCOMPARE(photos->topLevelItemCount(), 5);
        QVERIFY(row(photos, "IMG_1.jpg")->flags() & Qt::ItemIsUserCheckable);
        QVERIFY(row(photos, "page 1.tif")->flags() & Qt::ItemIsUserCheckable);
        QCOMPARE(row(photos, "small.jpg")->text(5), QString("Small already"));
        QCOMPARE(row(photos, "screenshot.png")->text(5),
                 QString("PNG: usually a screenshot or graphic, which HEIC would soften"));
        QVERIFY2(shrink->footerText().startsWith("2 videos ticked ("), qPrintable(shrink->footerText()));
        QTreeWidgetItem* odd = row(photos, "caf\\xe9.jpg");
        QVERIFY(odd != nullptr);
        QVERIFY2(model->selectedImages().contains(media + "/Scans/caf\xe9.jpg"), qPrintable(odd->text(5)));
        odd->setCheckState(0, Qt::Unchecked); // left as it is below
        QVERIFY(!model->selectedImages().contains(media + "/Scans/caf\xe9.jpg"));
        QCOMPARE(model->selectedImages().size(), std::size_t(2));
        save(*shrink, "media-02-videos");
        shrink->showList(MediaWindow::List::livePhotos);
        save(*shrink, "media-03-live-photos");
        shrink->showList(MediaWindow::List::photos);
        save(*shrink, "media-04-photos");
    }

    void nothingTickedIsSaidAndNothingAsked() {
        shrink->showList(MediaWindow::List::videos);
        QTreeWidget* videos = shrink->list(MediaWindow::List::videos);
        int asked = 0;
        shrink->runDialog = [&](QDialog&) { return ++asked, int(QDialog::Rejected); };
        row(videos, "Beach day.mp4")->setCheckState(0, Qt::Unchecked);
        row(videos, "Birthday.mov")->setCheckState(0, Qt::Unchecked);
        QVERIFY(model->selectedVideos().empty());
        QCOMPARE(shrink->footerText(), QString("No videos ticked."));
        QVERIFY(!shrink->review());
        QCOMPARE(asked, 0);
        QCOMPARE(shrink->noticeText(), QString("Tick the videos to compress first."));
        row(videos, "Beach day.mp4")->setCheckState(0, Qt::Checked);
        QVERIFY(!shrink->review()); // declined: nothing runs
        QCOMPARE(asked, 1);
        QVERIFY(!model->compressing());
    }

    void aVideoIsCompressedWithProgressAndReported() {
        QStringList lines, report, running;
        bool savedRun = false;
        shrink->runDialog = [&](QDialog& dialog) {
            if (auto* plan = qobject_cast<MediaPlanDialog*>(&dialog)) {
                lines = plan->lines();
                plan->show();
                save(*plan, "media-05-video-plan");
                return int(QDialog::Accepted);
            }
            if (auto* view = dialog.findChild<CompressionReportView*>()) {
                dialog.show();
                report << view->summary() << view->rowText(0);
                save(dialog, "media-06-video-report");
            }
            return int(QDialog::Accepted);
        };
        const auto token = model->observe([&] {
            if (!model->compressing()) return;
            running << shrink->runText();
            if (!savedRun && model->compressing()->current > 0.2) {
                savedRun = true;
                save(*shrink, "media-05b-compressing");
            }
        });
        QVERIFY(shrink->review());
        QTRY_VERIFY_WITH_TIMEOUT(report.size() == 2, 120000);
        model->unobserve(token);
        QVERIFY2(lines.value(0).startsWith("Compress 1 video ("), qPrintable(lines.join("\n")));
        QVERIFY2(running.contains("Compressing 1 of 1: Beach day.mp4"), qPrintable(running.join("\n")));
        QVERIFY2(report[0].startsWith("1 compressed, 0 skipped, 0 not compressed; "), qPrintable(report[0]));
        QVERIFY2(report[1].startsWith("Beach day.mp4 | Compressed | "), qPrintable(report[1]));
        QVERIFY(shrink->runText().isEmpty());
        waitForScans(); // the videos are scanned again after a compression
        QCOMPARE(row(shrink->list(MediaWindow::List::videos), "Beach day.mp4")->text(3), QString("HEVC"));
    }

    void liveStillsAreKeptAndReported() {
        shrink->showList(MediaWindow::List::livePhotos);
        QStringList said;
        shrink->runDialog = [&](QDialog& dialog) {
            if (auto* plan = qobject_cast<MediaPlanDialog*>(&dialog)) said << plan->lines().first();
            else said << dialog.windowTitle();
            return int(QDialog::Accepted);
        };
        QVERIFY(shrink->review());
        QTRY_VERIFY_WITH_TIMEOUT(said.size() == 2, 60000);
        QCOMPARE(said[0], QString("Keep only the stills of 1 Live Photo?"));
        QCOMPARE(said[1], QString("Live Photos Report"));
        QVERIFY(exists(media + "/Phone/IMG_0042.HEIC"));
        QVERIFY(!exists(media + "/Phone/IMG_0042.MOV"));
        waitForScans();
    }

    void photosAreConvertedAndAnOriginalComesBack() {
        shrink->showList(MediaWindow::List::photos);
        QStringList lines, report;
        bool back = false;
        shrink->runDialog = [&](QDialog& dialog) {
            if (auto* plan = qobject_cast<MediaPlanDialog*>(&dialog)) {
                lines = plan->lines();
                plan->show();
                save(*plan, "media-07-photo-plan");
                return int(QDialog::Accepted);
            }
            if (auto* view = dialog.findChild<CompressionReportView*>()) {
                dialog.show();
                report << view->summary();
                save(dialog, "media-08-photo-report");
                back = view->useOriginal(0);
                report << view->result() << view->rowText(0);
                save(dialog, "media-09-original-back");
            }
            return int(QDialog::Accepted);
        };
        QVERIFY(shrink->review());
        QTRY_VERIFY_WITH_TIMEOUT(report.size() == 3, 120000);
        QVERIFY2(lines.value(0).startsWith("Convert 2 photos ("), qPrintable(lines.join("\n")));
        QVERIFY2(report[0].startsWith("2 compressed, 0 skipped, 0 not compressed; "), qPrintable(report[0]));
        QVERIFY2(back, qPrintable(report[1]));
        QVERIFY2(report[2].contains("| Original back |"), qPrintable(report[2]));
        // One photo is a HEIC now, decoded whole; the other is its original again.
        const bool firstWasJpeg = report[2].startsWith("IMG_1.jpg");
        const std::string heic = firstWasJpeg ? media + "/Scans/page 1.heic" : media + "/Phone/IMG_1.heic";
        const std::string original = firstWasJpeg ? media + "/Phone/IMG_1.jpg" : media + "/Scans/page 1.tif";
        QVERIFY(Images::decodesFully(heic));
        QVERIFY(Images::decodesFully(original));
        waitForScans();
        // The original is offered again, beside the photo left unticked, which is as it was.
        QCOMPARE(model->images()->candidates().size(), std::size_t(2));
        QVERIFY(exists(media + "/Scans/caf\xe9.jpg") && !exists(media + "/Scans/caf\xe9.heic"));
        save(*shrink, "media-10-photos-after");
    }

    void cleanupTestCase() {
        window.reset();
        model.reset();
        loop.reset();
    }
};

QTEST_MAIN(MediaWindowTests)
#include "MediaWindowTests.moc"
