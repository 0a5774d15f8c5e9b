// Makes a thumbnail of every picture in a folder through the picture service and reports
// pictures per second and peak memory. thumbnails.sh runs it beside vipsthumbnail.
//
//   thumbnail-bench --list FOLDER                      prints the pictures it would read
//   thumbnail-bench [--size N] [--threads N] LISTFILE  thumbnails the listed pictures

#include "engine/common/Text.h"
#include "platform/TypeIdentifiers.h"
#include "platform/image/Images.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> picturesIn(const std::string& folder) {
    std::vector<std::string> paths;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        const std::string path = it->path().string();
        if (vp::TypeIdentifiers::forExtension(vp::pathExtension(vp::lastPathComponent(path)))) paths.push_back(path);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

int usage() {
    std::fprintf(stderr, "usage: thumbnail-bench --list FOLDER | thumbnail-bench [--size N] [--threads N] LISTFILE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int size = 512;
    int threads = 1;
    std::string listFile;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--list" && i + 1 < argc) {
            for (const auto& path : picturesIn(argv[++i])) std::printf("%s\n", path.c_str());
            return 0;
        }
        if (argument == "--size" && i + 1 < argc) size = std::atoi(argv[++i]);
        else if (argument == "--threads" && i + 1 < argc) threads = std::max(1, std::atoi(argv[++i]));
        else if (listFile.empty()) listFile = argument;
        else return usage();
    }
    if (listFile.empty() || size < 1) return usage();

    std::vector<std::string> paths;
    std::ifstream list(listFile);
    for (std::string line; std::getline(list, line);)
        if (!line.empty()) paths.push_back(line);

    // Workers take the next picture from a shared cursor, as the scan's worker pool does.
    std::atomic<std::size_t> cursor{0};
    std::atomic<int> failed{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (std::size_t i = cursor++; i < paths.size(); i = cursor++) {
                const auto thumbnail = vp::Images::thumbnail(paths[i], size);
                if (!thumbnail) {
                    ++failed;
                    std::fprintf(stderr, "%s: %s\n", paths[i].c_str(), thumbnail.error().detail.c_str());
                }
            }
        });
    for (auto& worker : workers) worker.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("pictures %zu failed %d seconds %.3f pictures_per_second %.1f peak_rss_mb %.1f\n", paths.size(),
                failed.load(), seconds, static_cast<double>(paths.size()) / seconds, usage.ru_maxrss / 1024.0);
    return failed.load() == 0 ? 0 : 1;
}
