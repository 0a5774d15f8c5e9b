#include "Desktop.h"

#include "gui/EventLoopQueue.h"
#include "gui/MainWindow.h"
#include "gui/Theme.h"

#include "model/PhotoCleanupModel.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vp {

namespace {

bool hasDisplay() {
    // An explicit platform (offscreen, vnc, ...) is the person's choice; otherwise X11 or Wayland.
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(variable); value && *value) return true;
    return false;
}

} // namespace

int runDesktop(int argc, char** argv, const std::vector<std::string>& folders) {
    if (!hasDisplay()) {
        std::fputs("velmo-pristel: there is no display to open the window on.\n"
                   "  For a report in the terminal: velmo-pristel --exact|--similar|--series FOLDER...\n"
                   "  To tidy in the terminal:      velmo-pristel clean FOLDER..., history, put-back\n"
                   "  (velmo-pristel --help tells more)\n",
                   stderr);
        return 2;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName("velmo-pristel");
    QApplication::setApplicationDisplayName("Velmo Pristel");
    QApplication::setDesktopFileName("velmo-pristel");
    QApplication::setApplicationVersion(VP_VERSION);
    gui::applyTheme(gui::storedTheme());

    MainQueue mainQueue;
    gui::EventLoopQueue loop(mainQueue);
    PhotoCleanupHost host;
    PhotoCleanupModel model(host, AppFolders::standard(host.homeFolder), mainQueue);
    gui::MainWindow window(model);
    window.show();
    if (!folders.empty()) model.add(folders);
    return QApplication::exec();
}

} // namespace vp
