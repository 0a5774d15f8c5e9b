// The results window at scale: a library of GROUPS groups of COPIES identical pictures each
// (made once in FOLDER), scanned by the real model; then how long the window takes to open on
// the results, how long each frame takes while scrolling through them with thumbnails arriving,
// and how much memory the thumbnails of every picture take once all were shown.
//   gui-bench FOLDER [GROUPS] [COPIES]
#include "gui/EventLoopQueue.h"
#include "gui/MainWindow.h"
#include "gui/ResultsView.h"
#include "gui/ThumbnailLoader.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTest>

#include <vips/vips8>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace vp;
namespace fs = std::filesystem;

namespace {

/// Peak and current resident memory in MiB, from /proc.
std::pair<double, double> residentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    double peak = 0, now = 0;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) peak = std::stod(line.substr(6)) / 1024;
        if (line.rfind("VmRSS:", 0) == 0) now = std::stod(line.substr(6)) / 1024;
    }
    return {peak, now};
}

/// GROUPS distinct noise pictures, each saved COPIES times in different folders.
void makeLibrary(const fs::path& folder, int groups, int copies) {
    const fs::path done = folder / ".complete";
    if (fs::exists(done)) return;
    fs::remove_all(folder);
    for (int copy = 0; copy < copies; ++copy) fs::create_directories(folder / ("copy-" + std::to_string(copy)));
    for (int group = 0; group < groups; ++group) {
        const std::string name = "picture-" + std::to_string(group) + ".jpg";
        const fs::path first = folder / "copy-0" / name;
        vips::VImage::gaussnoise(160, 120, vips::VImage::option()->set("mean", 128.0)->set("sigma", 50.0)->set("seed", group))
            .bandjoin({vips::VImage::gaussnoise(160, 120, vips::VImage::option()->set("seed", group + 1)),
                       vips::VImage::gaussnoise(160, 120, vips::VImage::option()->set("seed", group + 2))})
            .cast(VIPS_FORMAT_UCHAR)
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
            .jpegsave(first.c_str(), vips::VImage::option()->set("Q", 80));
        for (int copy = 1; copy < copies; ++copy)
            fs::copy_file(first, folder / ("copy-" + std::to_string(copy)) / name);
    }
    std::ofstream(done) << "made\n";
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: gui-bench FOLDER [GROUPS] [COPIES]\n");
        return 2;
    }
    if (VIPS_INIT(argv[0])) return 1;
    const fs::path folder = fs::absolute(argv[1]);
    const int groups = argc > 2 ? std::stoi(argv[2]) : 10000;
    const int copies = argc > 3 ? std::stoi(argv[3]) : 5;
    const fs::path home = folder.parent_path() / (folder.filename().string() + "-home");
    fs::remove_all(home);
    fs::create_directories(home);
    ::setenv("XDG_DATA_HOME", (home / "share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    // The shared thumbnail cache outlives a run, as a desktop's does: the first run fills it,
    // later ones read it.
    const fs::path cache = folder.parent_path() / (folder.filename().string() + "-cache");
    const bool warm = fs::exists(cache / "thumbnails");
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);

    std::printf("making %d groups of %d copies in %s...\n", groups, copies, folder.c_str());
    std::fflush(stdout);
    makeLibrary(folder, groups, copies);

    QApplication application(argc, argv);
    MainQueue queue;
    gui::EventLoopQueue loop(queue);
    PhotoCleanupHost host;
    host.homeFolder = home.string();
    PhotoCleanupModel model(host, AppFolders{(home / "config").string(), (home / "data").string(), (home / "Downloads").string()},
                            queue);
    model.setTransient(true);
    QElapsedTimer clock;
    clock.start();
    model.add({folder.string()});
    while (model.phase() != Phase::results) QTest::qWait(20);
    const auto groupsFound = model.currentGroups().size();
    std::printf("scan: %zu groups in %.1f s\n", groupsFound, clock.elapsed() / 1000.0);

    // Opening: the window built over the finished results until its first frame is painted.
    clock.restart();
    gui::MainWindow window(model);
    window.resize(1280, 860);
    window.show();
    window.results()->viewport()->repaint();
    const double openMs = clock.nsecsElapsed() / 1e6;
    std::printf("open: %.0f ms to the first frame of %zu groups\n", openMs, groupsFound);

    // Scrolling: 30 pixels a frame, as a flick scrolls, for 2,000 frames; the thumbnails that
    // arrive meanwhile are painted in as they come.
    QScrollBar* bar = window.results()->verticalScrollBar();
    std::vector<double> frames;
    for (int frame = 0; frame < 2000 && bar->value() < bar->maximum(); ++frame) {
        QCoreApplication::processEvents();
        QElapsedTimer paint;
        paint.start();
        bar->setValue(bar->value() + 30);
        window.results()->viewport()->repaint();
        frames.push_back(paint.nsecsElapsed() / 1e6);
    }
    const auto slow = std::count_if(frames.begin(), frames.end(), [](double ms) { return ms > 16.7; });
    std::fflush(stdout);
    std::printf("scroll: %zu frames, median %.2f ms, 95th %.2f ms, worst %.2f ms, %ld over 16.7 ms\n", frames.size(),
                percentile(frames, 0.5), percentile(frames, 0.95), percentile(frames, 1.0), static_cast<long>(slow));
    std::fflush(stdout);

    // Marking every suggested copy, and the window catching up with 40,000 marks.
    clock.restart();
    model.markSuggested();
    QCoreApplication::processEvents();
    window.results()->viewport()->repaint();
    std::printf("mark suggested in every group: %zu marks in %.0f ms, window refreshed\n", model.session()->marks().size(),
                clock.nsecsElapsed() / 1e6);
    std::fflush(stdout);

    // Every picture's thumbnail asked for, as scrolling through everything would.
    const auto [peakBefore, before] = residentMiB();
    std::printf("before thumbnails: resident %.0f MiB, %.0f MiB at peak (the scan's results included)\n", before, peakBefore);
    std::fflush(stdout);
    clock.restart();
    auto& thumbnails = window.thumbnails();
    std::size_t asked = 0;
    QImage image;
    for (const auto& group : model.currentGroups()) {
        for (const auto& member : group.members) {
            thumbnails.thumbnail(member.path, image);
            if (++asked % 200 == 0) thumbnails.waitForIdle();
        }
    }
    thumbnails.waitForIdle();
    const auto [peak, now] = residentMiB();
    std::printf("thumbnails (%s shared cache): %zu pictures in %.1f s; cache %.0f MiB; resident %.0f MiB now (%+.0f MiB), %.0f MiB at peak\n",
                warm ? "warm" : "cold", asked, clock.elapsed() / 1000.0, thumbnails.memoryInUse() / 1048576.0, now, now - before, peak);
    return 0;
}
