// Gets the thumbnail of every listed picture through the shared thumbnail cache and reports how
// long it took, per picture, and peak memory. shared_thumbnails.sh runs it cold (an empty cache:
// decode and write) and warm (the same cache again: read only).
//
//   shared-thumbnails-bench --cache FOLDER [--size N] [--threads N] LISTFILE

#include "platform/image/SharedThumbnails.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: shared-thumbnails-bench --cache FOLDER [--size N] [--threads N] LISTFILE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int size = 256;
    int threads = 1;
    std::string cacheFolder;
    std::string listFile;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--cache" && i + 1 < argc) cacheFolder = argv[++i];
        else if (argument == "--size" && i + 1 < argc) size = std::atoi(argv[++i]);
        else if (argument == "--threads" && i + 1 < argc) threads = std::max(1, std::atoi(argv[++i]));
        else if (listFile.empty() && !argument.starts_with("--")) listFile = argument;
        else return usage();
    }
    if (listFile.empty() || cacheFolder.empty() || size < 1) return usage();

    std::vector<std::string> paths;
    std::ifstream list(listFile);
    for (std::string line; std::getline(list, line);)
        if (!line.empty()) paths.push_back(line);
    if (paths.empty()) return usage();

    const vp::SharedThumbnails cache(cacheFolder);
    // Workers take the next picture from a shared cursor, as a view's thumbnail workers would.
    std::atomic<std::size_t> cursor{0};
    std::atomic<int> failed{0};
    std::atomic<std::uint64_t> pixelsReturned{0};
    const auto start = std::chrono::steady_clock::now();
    {
        std::vector<std::jthread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&] {
                for (std::size_t i = cursor++; i < paths.size(); i = cursor++) {
                    const auto thumbnail = cache.get(paths[i], size);
                    if (!thumbnail) {
                        ++failed;
                        std::fprintf(stderr, "%s: %s\n", paths[i].c_str(), thumbnail.error().detail.c_str());
                        continue;
                    }
                    pixelsReturned += static_cast<std::uint64_t>(thumbnail->width) * thumbnail->height;
                }
            });
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("pictures %zu failed %d seconds %.3f ms_per_picture %.2f peak_rss_mb %.1f mean_pixels %.0f\n",
                paths.size(), failed.load(), seconds, 1000.0 * seconds / static_cast<double>(paths.size()),
                usage.ru_maxrss / 1024.0,
                static_cast<double>(pixelsReturned.load()) / static_cast<double>(paths.size()));
    return failed.load() == 0 ? 0 : 1;
}
