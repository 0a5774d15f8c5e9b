// The real window over the real model, offscreen: a person's whole round from an empty window
// to pictures in the Trash and back. Each main screen is saved as a PNG for a person to look at.
#include "gui/CleanupReportView.h"
#include "gui/CompareDialog.h"
#include "gui/EventLoopQueue.h"
#include "gui/FileManager.h"
#include "gui/SourcesPanel.h"
#include "gui/GroupDelegate.h"
#include "gui/HistoryWindow.h"
#include "gui/MainWindow.h"
#include "gui/PlanDialog.h"
#include "gui/ResultsView.h"
#include "gui/SettingsDialog.h"
#include "gui/Theme.h"
#include "gui/ThumbnailLoader.h"

#include "engine/common/PathRules.h"
#include "engine/library/MemoryLibrary.h"
#include "tests/catalogs/LightroomScene.h"
#include "tests/library/LibraryScene.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

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

} // namespace

class MainWindowTests : public QObject {
    Q_OBJECT

    testing::TempDir home;
    std::string base = *PathRules::real(home.path());
    std::string pictures = base + "/Pictures";
    MainQueue queue;
    std::unique_ptr<EventLoopQueue> loop;
    std::unique_ptr<PhotoCleanupModel> model;
    std::unique_ptr<MainWindow> window;

    void waitForResults() {
        QTRY_VERIFY_WITH_TIMEOUT(model->phase() == Phase::results, 120000);
        QCoreApplication::processEvents();
        // Painted now, whatever the load: painting is what asks for the thumbnails.
        if (window->results()->isVisible()) window->results()->viewport()->repaint();
        window->thumbnails().waitForIdle();
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void initTestCase() {
        ::setenv("XDG_DATA_HOME", (base + "/share").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (base + "/cache").c_str(), 1);
        std::filesystem::copy(VP_SAMPLES_DIR, pictures, std::filesystem::copy_options::recursive);
        loop = std::make_unique<EventLoopQueue>(queue);
        PhotoCleanupHost host;
        host.homeFolder = base;
        model = std::make_unique<PhotoCleanupModel>(host, AppFolders{base + "/config", base + "/data", base + "/Downloads"},
                                                    queue);
        applyTheme(Theme::light);
        window = std::make_unique<MainWindow>(*model);
        window->resize(1280, 860);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void anEmptyWindowAsksForFolders() {
        QCOMPARE(window->pageName(), QString("empty"));
        QVERIFY(window->findChild<QLabel*>() != nullptr);
        bool asks = false;
        for (auto* label : window->findChildren<QLabel*>()) asks |= label->text() == "Choose folders to check.";
        QVERIFY(asks);
        save(*window, "01-empty");
    }

    void anAddedFolderIsScannedAndItsGroupsShown() {
        model->setMode(Mode::similar);
        model->add({pictures});
        QTRY_VERIFY_WITH_TIMEOUT(model->phase() == Phase::scanning || model->phase() == Phase::results, 5000);
        waitForResults();
        QCOMPARE(window->pageName(), QString("results"));
        QVERIFY(window->results()->model()->rowCount() >= 2);
        // Thumbnails were decoded off the GUI thread and are in memory now.
        QVERIFY(window->thumbnails().memoryInUse() > 0);
        // ... and written to the desktop's shared cache, where a file manager finds them.
        const auto cached = std::distance(std::filesystem::directory_iterator(base + "/cache/thumbnails/normal"), {});
        QVERIFY(cached >= 10);
        save(*window, "02-results-similar");
        model->setMode(Mode::exact);
        waitForResults();
        QCOMPARE(window->results()->model()->rowCount(), 2); // the two identical pairs of the samples
        save(*window, "03-results-exact");
    }

    void theKeyboardMovesMarksAndLocks() {
        ResultsView& view = *window->results();
        view.setFocus();
        view.setCurrent(0, 0);
        QTest::keyClick(&view, Qt::Key_Right);
        QCOMPARE(view.currentMember(), 1);
        const std::string second = view.currentPicture()->path;
        QTest::keyClick(&view, Qt::Key_Space);
        QVERIFY(model->session()->isMarked(second));
        QTest::keyClick(&view, Qt::Key_Left);
        const std::string first = view.currentPicture()->path;
        // The last unmarked copy of a group cannot be marked: the refusal is told.
        QTest::keyClick(&view, Qt::Key_Space);
        QVERIFY(!model->session()->isMarked(first));
        QCOMPARE(window->notice()->text(), QString("Every group keeps at least one copy. Unmark another copy first."));
        // A lock unmarks and keeps the copy; marking it is refused with its own sentence.
        QTest::keyClick(&view, Qt::Key_Right);
        QTest::keyClick(&view, Qt::Key_L);
        QVERIFY(model->session()->isLocked(second));
        QVERIFY(!model->session()->isMarked(second));
        QTest::keyClick(&view, Qt::Key_Space);
        QCOMPARE(window->notice()->text(), QString("You locked this one to keep it. Unlock it first."));
        QTest::keyClick(&view, Qt::Key_L);
        QVERIFY(!model->session()->isLocked(second));
    }

    void aClickOnTheBoxMarksAndOnTheLockLocks() {
        ResultsView& view = *window->results();
        view.setCurrent(1, 0);
        const DuplicateGroup& group = model->session()->groups[1];
        const GroupLayout layout(view.visualRect(view.model()->index(1, 0)));
        const std::string target = group.members[1].path;
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, layout.markBox(1).center());
        QVERIFY(model->session()->isMarked(target));
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, layout.markBox(1).center());
        QVERIFY(!model->session()->isMarked(target));
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, layout.lockBox(1).center());
        QVERIFY(model->session()->isLocked(target));
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, layout.lockBox(1).center());
        QVERIFY(!model->session()->isLocked(target));
    }

    void enterComparesThePicturesSideBySide() {
        ResultsView& view = *window->results();
        view.setCurrent(0, 0);
        bool opened = false;
        window->runDialog = [&](QDialog& dialog) {
            auto* compare = qobject_cast<CompareDialog*>(&dialog);
            if (!compare) return int(QDialog::Rejected);
            opened = true;
            compare->resize(1200, 700);
            compare->show();
            compare->waitUntilLoaded();
            QTest::qWait(50);
            const QStringList facts = compare->facts();
            if (facts.size() < 2 || !facts[0].contains("pixels") || !facts[0].contains("Pictures")) return int(QDialog::Rejected);
            save(*compare, "04-compare-fit");
            compare->zoom().setActualSize();
            save(*compare, "05-compare-actual-size");
            return int(QDialog::Accepted);
        };
        QTest::keyClick(&view, Qt::Key_Return);
        QVERIFY(opened);
    }

    void anApprovedPlanMovesTheMarkedCopiesToTheTrashAndTheyComeBack() {
        QPushButton* markAll = nullptr;
        for (auto* button : window->findChildren<QPushButton*>())
            if (button->text() == "Mark Suggested Copies in Every Group") markAll = button;
        QVERIFY(markAll);
        QTest::mouseClick(markAll, Qt::LeftButton);
        const auto marked = model->session()->marks();
        QCOMPARE(marked.size(), std::size_t(2));
        save(*window, "06-marked");

        QStringList planLines;
        bool reported = false;
        window->runDialog = [&](QDialog& dialog) {
            if (auto* plan = qobject_cast<PlanDialog*>(&dialog)) {
                planLines = plan->lines();
                plan->show();
                save(*plan, "07-plan");
                return int(QDialog::Accepted);
            }
            if (auto* view = dialog.findChild<CleanupReportView*>()) {
                reported = true;
                dialog.show();
                save(dialog, "08-report");
                if (view->rowCount() != 2) reported = false;
            }
            return int(QDialog::Accepted);
        };
        QVERIFY(window->reviewPlan());
        QVERIFY(planLines.first().startsWith("Move 2 pictures"));
        QTRY_VERIFY_WITH_TIMEOUT(reported, 60000);
        for (const auto& path : marked) QVERIFY2(!exists(path), path.c_str());
        const std::string trashFiles = base + "/share/Trash/files";
        QCOMPARE(std::distance(std::filesystem::directory_iterator(trashFiles), {}), 2);
        waitForResults(); // the model scans again after a cleanup
        QCOMPARE(window->results()->model()->rowCount(), 0);

        // From the history, every picture of that cleanup goes back where it was.
        bool putBack = false;
        window->runDialog = [&](QDialog& dialog) {
            auto* history = qobject_cast<HistoryWindow*>(&dialog);
            if (!history) return int(QDialog::Rejected);
            history->show();
            save(*history, "09-history");
            putBack = history->report()->putBack(0) && history->report()->putBack(1);
            save(*history, "10-history-put-back");
            return int(QDialog::Accepted);
        };
        window->openHistory();
        QVERIFY(putBack);
        for (const auto& path : marked) QVERIFY2(exists(path), path.c_str());
    }

    void settingsReorderThePrioritiesAndChangeTheTheme() {
        bool shown = false;
        window->runDialog = [&](QDialog& dialog) {
            auto* settings = qobject_cast<SettingsDialog*>(&dialog);
            if (!settings) return int(QDialog::Rejected);
            shown = true;
            settings->show();
            save(*settings, "11-settings");
            const auto before = model->priorities();
            settings->movePriority(1, -1);
            const auto after = model->priorities();
            return after[0] == before[1] && after[1] == before[0] ? int(QDialog::Accepted) : int(QDialog::Rejected);
        };
        window->runDialog = [&, run = window->runDialog](QDialog& dialog) {
            const int answer = run(dialog);
            shown = shown && answer == QDialog::Accepted;
            return answer;
        };
        window->openSettings();
        QVERIFY(shown);
        applyTheme(Theme::dark);
        model->scan();
        waitForResults();
        model->setMode(Mode::similar);
        waitForResults();
        save(*window, "12-results-dark");
        applyTheme(Theme::light);
    }

    void dropsTakeFoldersOnlyAndOddNamesStayReadable() {
        // A dropped file is not a folder: told, not added.
        const std::string file = pictures + "/Sent/coffee-for-mum.jpg";
        window->addDropped({fileUrl(file)});
        QCOMPARE(model->sources().size(), std::size_t(1));
        QCOMPARE(window->notice()->text(), QString("coffee-for-mum.jpg is not a folder"));

        // A folder whose name is not UTF-8 arrives by its exact bytes and is shown escaped.
        const std::string odd = base + "/caf\xe9";
        std::filesystem::create_directories(odd);
        std::filesystem::copy_file(file, odd + "/mum\xff.jpg");
        window->addDropped({fileUrl(odd)});
        QCOMPARE(model->sources().size(), std::size_t(2));
        QCOMPARE(model->sources()[1].path, odd);
        auto* list = window->sources()->findChild<QListWidget*>();
        QVERIFY(list->item(1)->text().startsWith("caf\\xe9"));
        waitForResults();
        bool found = false;
        for (const auto& group : model->session()->groups)
            for (const auto& member : group.members) found |= member.path == odd + "/mum\xff.jpg";
        QVERIFY(found);
        save(*window, "13-odd-names");
    }

    void aCatalogIsScannedMarkedAndTakenBack() {
        testing::LightroomScene scene;
        model->setMode(Mode::exact);
        model->setScope(Scope::lightroom);
        QCOMPARE(window->pageName(), QString("empty")); // no catalog chosen yet
        save(*window, "14-catalog-not-chosen");
        model->chooseLightroomCatalog(scene.catalog.path());
        waitForResults();
        QCOMPARE(window->results()->model()->rowCount(), 2);
        // Rejecting in a catalog frees nothing until the person deletes there.
        QVERIFY(groupTitle(*model, model->currentGroups().at(0)).endsWith(" in extra copies"));
        save(*window, "15-catalog-results");
        // The photo whose file is gone is said under the results, and listed with its reason.
        QLabel* leftOut = nullptr;
        for (auto* label : window->findChildren<QLabel*>())
            if (label->accessibleName() == "Left out of the scan") leftOut = label;
        QVERIFY(leftOut && leftOut->isVisible());
        QCOMPARE(leftOut->text(), QString("Left out of the scan: 1 unreadable."));
        QString listed;
        window->runDialog = [&](QDialog& dialog) {
            if (auto* list = dialog.findChild<QListWidget*>()) listed = list->item(0)->text();
            return int(QDialog::Accepted);
        };
        window->showLeftOut();
        QVERIFY2(listed.startsWith("unreadable: ") && listed.contains("gone.jpg (Lightroom Classic lists it"),
                 qPrintable(listed));

        model->markSuggested();
        QStringList said;
        window->runDialog = [&](QDialog& dialog) {
            if (auto* plan = qobject_cast<PlanDialog*>(&dialog)) {
                said << plan->lines().first();
                save(*plan, "16-catalog-plan");
                return int(QDialog::Accepted);
            }
            if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
                said << box->text();
                save(*box, "17-catalog-marked");
            }
            return int(QDialog::Accepted);
        };
        QVERIFY(window->reviewPlan());
        QTRY_VERIFY_WITH_TIMEOUT(said.size() == 2, 60000);
        QCOMPARE(said[0], QString("Mark 2 pictures Rejected in Main.lrcat?"));
        QVERIFY2(said[1].startsWith("2 marked Rejected in Main.lrcat."), qPrintable(said[1]));
        QCOMPARE(model->lightroomRecords().size(), std::size_t(1));
        waitForResults();
        QCOMPARE(window->results()->model()->rowCount(), 0); // rejected photos are not offered again

        bool enabledBefore = false, enabledAfter = true;
        window->runDialog = [&](QDialog& dialog) {
            if (auto* history = qobject_cast<HistoryWindow*>(&dialog)) {
                enabledBefore = history->takeBackButton()->isEnabled();
                QTest::mouseClick(history->takeBackButton(), Qt::LeftButton);
                enabledAfter = history->takeBackButton()->isEnabled();
                save(*history, "18-catalog-taken-back");
            }
            return int(QDialog::Accepted);
        };
        window->openHistory();
        QVERIFY(enabledBefore);
        QVERIFY(!enabledAfter); // once is enough
        QVERIFY(model->lightroomRecords()[0].restored);
        QCOMPARE(model->notice().value_or(""), std::string("2 no longer Rejected in Main.lrcat"));
        model->setScope(Scope::folders);
    }

    void aLibraryIsScannedWithItsPreviewsAndCopiesGoToTheReviewAlbum() {
        auto library = std::make_shared<MemoryLibrary>();
        const std::string original = pictures + "/Pictures/Camera/2021-06-12/IMG_0101.jpg";
        const std::string bytes = testing::readFile(original);
        for (const char* id : {"A", "B"}) {
            auto item = testing::photo(id, bytes, *id == 'A' ? 1 : 2, 640);
            item.picturePath = original;
            library->add(item);
        }
        model->usePhotoLibrary(library, library, [] { return Access::granted; }, base);
        model->setScope(Scope::photosLibrary);
        waitForResults();
        QCOMPARE(window->results()->model()->rowCount(), 1);
        // The tiles show the library's own previews.
        QImage tile;
        QCOMPARE(window->thumbnails().thumbnail(model->result()->groups[0].members[0].path, tile),
                 ThumbnailLoader::State::ready);
        QVERIFY(!tile.isNull());
        save(*window, "19-library-results");
        // Compared side by side from the library's previews too.
        bool previewed = false;
        window->runDialog = [&](QDialog& dialog) {
            if (auto* compare = qobject_cast<CompareDialog*>(&dialog)) {
                compare->waitUntilLoaded();
                const auto panes = compare->findChildren<ComparePane*>();
                previewed = panes.size() == 2 && std::all_of(panes.begin(), panes.end(), [](ComparePane* pane) {
                                return !pane->image().isNull();
                            });
            }
            return int(QDialog::Accepted);
        };
        window->openCompare({model->result()->groups[0].members[0].path, model->result()->groups[0].members[1].path});
        QVERIFY(previewed);

        model->markSuggested();
        QStringList said;
        window->runDialog = [&](QDialog& dialog) {
            if (auto* plan = qobject_cast<PlanDialog*>(&dialog)) {
                said << plan->lines().first();
                save(*plan, "20-library-plan");
            } else if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
                said << box->text();
            }
            return int(QDialog::Accepted);
        };
        QVERIFY(window->reviewPlan());
        QTRY_VERIFY_WITH_TIMEOUT(said.size() == 2, 60000);
        QCOMPARE(said[0], QString::fromUtf8("Add 1 picture to the review album “Velmo Pristel Review”?"));
        QVERIFY2(said[1].startsWith(QString::fromUtf8("1 picture added to the review album “Velmo Pristel Review”")),
                 qPrintable(said[1]));
        QCOMPARE(library->albums().size(), std::size_t(1));
        QCOMPARE(library->items(CancellationFlag{}).photos.size(), std::size_t(2)); // nothing deleted
        model->setScope(Scope::folders);
    }

    void cleanupTestCase() {
        window.reset();
        model.reset();
        loop.reset();
    }
};

QTEST_MAIN(MainWindowTests)
#include "MainWindowTests.moc"
