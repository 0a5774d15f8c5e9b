#include "CompressCommands.h"

#include "CommandLine.h"
#include "LibraryClean.h"

#include "engine/cleanup/CleanupExecutor.h"
#include "engine/cleanup/Trasher.h"
#include "engine/common/Text.h"
#include "engine/library/ShotwellLibrary.h"
#include "engine/media/ImageCompression.h"
#include "engine/media/LibraryMediaExecutor.h"
#include "engine/media/LibraryMediaScanner.h"
#include "engine/media/LivePhotoPlanner.h"
#include "engine/scan/ExactMatcher.h"
#include "engine/media/MediaScanner.h"
#include "engine/media/VideoCompressor.h"
#include "model/AppFolders.h"
#include "model/PhotoCleanupModel.h"
#include "platform/Home.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace vp::CompressCommands {

namespace {

using CommandLine::asGiven;
using CommandLine::bytesText;

enum Status : int { done = 0, declined = 1, usage = 2, refused = 3, incomplete = 4 };

struct Options {
    bool videos = false, livePhotos = false, images = false;
    bool dryRun = false, yes = false, json = false, help = false;
    bool library = false; ///< the operand, if any, names the library (LibraryClean.h)
    std::vector<std::string> folders;
};

Result<Options, std::string> parse(const std::vector<std::string>& arguments) {
    Options options;
    bool operandsOnly = false;
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (operandsOnly) {
            options.folders.push_back(argument);
            continue;
        }
        if (argument == "--") {
            operandsOnly = true;
            continue;
        }
        const auto option = CommandLine::option(argument);
        if (!option) {
            options.folders.push_back(argument);
            continue;
        }
        if (option->name == "--library" && option->value) { // --library=PATH, as --library PATH
            if (option->value->empty()) return Unexpected{std::string("--library= needs shotwell or the path of a photo.db.")};
            options.library = true;
            options.folders.push_back(*option->value);
            continue;
        }
        bool Options::*flag = nullptr;
        if (option->name == "--videos") flag = &Options::videos;
        else if (option->name == "--library") flag = &Options::library;
        else if (option->name == "--live-photos") flag = &Options::livePhotos;
        else if (option->name == "--images") flag = &Options::images;
        else if (option->name == "--dry-run") flag = &Options::dryRun;
        else if (option->name == "--yes") flag = &Options::yes;
        else if (option->name == "--json") flag = &Options::json;
        else if (option->name == "--help" || option->name == "-h") flag = &Options::help;
        if (flag == nullptr) return Unexpected{"Unknown option for compress: " + asGiven(argument) + " (velmo-pristel compress --help lists them)"};
        if (option->value) return Unexpected{option->name + " takes no value: " + asGiven(argument)};
        options.*flag = true;
    }
    if (options.help) return options;
    if (options.library) {
        if (options.images)
            return Unexpected{std::string("--images is for folders; photos inside a library are not converted.")};
        if (options.folders.size() > 1)
            return Unexpected{"compress --library takes one library, shotwell or a photo.db, not also " +
                              asGiven(options.folders[1])};
        if (!options.videos && !options.livePhotos) options.videos = options.livePhotos = true;
    }
    if (!options.videos && !options.livePhotos && !options.images) options.videos = options.livePhotos = options.images = true;
    if (options.folders.empty() && !options.library)
        return Unexpected{std::string("compress needs at least one folder (velmo-pristel compress --help).")};
    if (options.json && !options.yes && !options.dryRun)
        return Unexpected{std::string("compress --json needs --yes or --dry-run: it never asks.")};
    return options;
}

AppFolders folders() { return AppFolders::standard(realHomeFolder()); }

VideoCompressor compressor() { return VideoCompressor(folders().data, std::make_shared<FileManagerTrasher>()); }

/// Ctrl-C (or a termination request) stops at the next safe point: a scan is cancelled, an
/// encode stops and its partial copy goes to the Trash. At the question, nothing has changed
/// yet, so the process ends there. A second signal ends the process at once; the journal makes
/// even that safe.
class Signals {
public:
    static Signals& take() {
        static Signals* signals = [] {
            auto* created = new Signals; // never destroyed: the signal thread outlives main
            CommandLine::takeTerminationSignals([created](int received) { created->handle(received); });
            return created;
        }();
        return *signals;
    }
    void watch(CancellationFlag* flag) {
        std::lock_guard lock(m_mutex);
        m_flag = flag;
    }
    void asking(bool asking) { m_asking = asking; }
    bool requested() const { return m_requested; }

private:
    void handle(int received) {
        if (m_asking) {
            static constexpr char line[] = "\nNothing was changed.\n";
            (void)!::write(STDERR_FILENO, line, sizeof line - 1);
            std::_Exit(declined);
        }
        if (m_requested.exchange(true)) std::_Exit(128 + received);
        std::lock_guard lock(m_mutex);
        if (m_flag != nullptr) m_flag->cancel();
    }
    std::mutex m_mutex;
    CancellationFlag* m_flag = nullptr;
    std::atomic<bool> m_asking = false;
    std::atomic<bool> m_requested = false;
};

/// A progress line on standard error, rewritten in place on a terminal, silent otherwise.
void showProgress(const std::string& line) {
    static const bool terminal = ::isatty(STDERR_FILENO) != 0;
    if (!terminal) return;
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
}
void endProgress() {
    static const bool terminal = ::isatty(STDERR_FILENO) != 0;
    if (terminal) std::fputs("\r\033[K", stderr);
}

/// Runs a media scan with its progress line, Ctrl-C cancelling it; none, said on standard
/// error, when it was cancelled.
std::optional<MediaScan> scanWithProgress(
    const std::function<MediaScan(const CancellationFlag&, const MediaScanner::Progress&)>& scan) {
    CancellationFlag cancel;
    Signals::take().watch(&cancel);
    std::mutex shownLock;
    MediaScan result = scan(cancel, [&](std::int64_t done, std::int64_t total) {
        std::lock_guard lock(shownLock);
        showProgress("Examining videos: " + std::to_string(done) + " of " + std::to_string(total));
    });
    endProgress();
    Signals::take().watch(nullptr);
    if (!result.cancelled) return result;
    std::fputs("The scan was cancelled; nothing was changed.\n", stderr);
    return std::nullopt;
}

std::string shown(const std::string& path) { return displayable(path); }

std::string videoLine(const VideoItem& video) {
    return "  " + bytesText(video.snapshot.size) + " \u2192 about " + bytesText(video.estimatedSize.value_or(0)) + "  " +
           video.codecName() + " " + std::to_string(video.width) + "\u00d7" + std::to_string(video.height) + "  " +
           shown(video.path);
}

void printPlan(const MediaScan& scan, const Options& options, const CompressionPlan& plan) {
    if (options.videos) {
        if (plan.videos.empty()) std::puts("No video here would shrink by 15% or more as HEVC at most 1080p.");
        else
            std::printf("Videos to compress (%zu, %s, about %s saved):\n", plan.videos.size(), bytesText(plan.totalBytes()).c_str(),
                        bytesText(plan.estimatedSavings()).c_str());
        for (const auto& video : plan.videos) std::printf("%s\n", videoLine(video).c_str());
        std::vector<const VideoItem*> leftAlone;
        for (const auto& video : scan.videos)
            if (video.leftAlone) leftAlone.push_back(&video);
        if (!leftAlone.empty()) std::printf("Left alone (%zu):\n", leftAlone.size());
        for (const auto* video : leftAlone)
            std::printf("  %s: %s\n", displayable(*video->leftAlone).c_str(), shown(video->path).c_str());
        for (const auto& skipped : scan.skipped)
            std::printf("  %s: %s\n", displayable(skipped.detail.value_or("Not read")).c_str(), shown(skipped.path).c_str());
    }
    if (options.livePhotos && !scan.livePairs.empty()) {
        std::int64_t movies = 0;
        for (const auto& pair : scan.livePairs) movies += pair.movieSize();
        std::printf("Live Photos (%zu): keeping only the stills moves %s of movies to the Trash:\n", scan.livePairs.size(),
                    bytesText(movies).c_str());
        for (const auto& pair : scan.livePairs)
            std::printf("  %s  %s (still kept: %s)\n", bytesText(pair.movieSize()).c_str(), shown(pair.movie).c_str(),
                        displayable(lastPathComponent(pair.still)).c_str());
    }
}

void printImages(const ImageScan& scan, const ImageCompressionPlan& plan) {
    if (plan.images.empty()) std::puts("No photo here would shrink by 15% or more as HEIC.");
    else
        std::printf("Photos to convert to HEIC (%zu, %s, about %s saved, measured on %lld):\n", plan.images.size(),
                    bytesText(plan.totalBytes()).c_str(), bytesText(plan.estimatedSavings()).c_str(),
                    static_cast<long long>(scan.sampled));
    for (const auto& image : plan.images)
        std::printf("  %s \u2192 about %s  %s\n", bytesText(image.snapshot.size).c_str(),
                    bytesText(image.estimatedSize.value_or(0)).c_str(), shown(image.path).c_str());
    std::size_t leftAlone = 0;
    for (const auto& image : scan.images) leftAlone += image.leftAlone ? 1 : 0;
    if (leftAlone > 0) std::printf("Photos left alone (%zu):\n", leftAlone);
    for (const auto& image : scan.images)
        if (image.leftAlone) std::printf("  %s: %s\n", displayable(*image.leftAlone).c_str(), shown(image.path).c_str());
}

std::string question(std::size_t videos, std::size_t pairs, std::size_t photos) {
    std::vector<std::string> parts;
    if (videos > 0) parts.push_back("compress " + std::to_string(videos) + (videos == 1 ? " video" : " videos"));
    if (pairs > 0)
        parts.push_back("keep only the stills of " + std::to_string(pairs) + (pairs == 1 ? " Live Photo" : " Live Photos"));
    if (photos > 0) parts.push_back("convert " + std::to_string(photos) + (photos == 1 ? " photo" : " photos") + " to HEIC");
    std::string text = joined(parts, " and ");
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text + "? The originals go to the Trash. [y/N] ";
}

/// With nothing to do, or on a dry run, says so (or prints the document) and tells the caller to stop.
bool endsBeforeChanging(bool nothingToDo, const Options& options, const Json& document) {
    if (!nothingToDo && !options.dryRun) return false;
    if (options.json) std::printf("%s\n", CommandLine::jsonText(document).c_str());
    else std::puts(nothingToDo ? "Nothing to do." : "Dry run: nothing was changed.");
    return true;
}

bool approved(const std::string& text) {
    std::fflush(stdout);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    Signals::take().asking(true);
    std::string answer;
    const bool answered = static_cast<bool>(std::getline(std::cin, answer));
    Signals::take().asking(false);
    if (!answered) std::fputc('\n', stderr);
    const std::string word = trimmed(answer);
    return answered && (word == "y" || word == "Y" || word == "yes");
}

void printCompression(const CompressionReport& report) {
    for (const auto& item : report.items) {
        const std::string word(item.outcome.word());
        switch (item.outcome.kind) {
        case CompressionOutcome::Kind::compressed:
            std::printf("%s: %s  %s \u2192 %s%s\n", word.c_str(), shown(item.path).c_str(), bytesText(item.originalSize).c_str(),
                        bytesText(item.outcome.newSize).c_str(),
                        item.replacedBy ? ("  as " + displayable(lastPathComponent(*item.replacedBy))).c_str() : "");
            break;
        case CompressionOutcome::Kind::skipped:
        case CompressionOutcome::Kind::failed:
            std::printf("%s (%s): %s\n", word.c_str(), displayable(item.outcome.reason).c_str(), shown(item.path).c_str());
            break;
        case CompressionOutcome::Kind::originalRestored: std::printf("%s: %s\n", word.c_str(), shown(item.path).c_str()); break;
        }
    }
}

void printStills(const CleanupReport& report) {
    for (const auto& item : report.items) {
        if (item.outcome.kind == ItemOutcome::Kind::movedToTrash)
            std::printf("Still kept, movie moved to the Trash: %s\n", shown(item.removal.path).c_str());
        else
            std::printf("Movie kept (%s): %s\n", displayable(item.outcome.detail().value_or("")).c_str(),
                        shown(item.removal.path).c_str());
    }
}

int compress(const Options& options) {
    std::vector<std::string> roots;
    for (const auto& given : options.folders) {
        std::string resolved;
        if (const auto refusal = CommandLine::folderRefusal(given, resolved)) {
            std::fprintf(stderr, "%s\n", refusal->c_str());
            return usage;
        }
        roots.push_back(resolved);
    }
    Signals::take();
    const VideoCompressor videos = compressor();
    videos.recoverInterrupted();

    const auto scanned = scanWithProgress([&](const CancellationFlag& cancel, const MediaScanner::Progress& progress) {
        return MediaScanner::scan(roots, options.videos, cancel, progress);
    });
    if (!scanned) return declined;
    const MediaScan& scan = *scanned;
    ImageScan images{scan.roots, {}, 0};
    if (options.images) {
        CancellationFlag imageCancel;
        Signals::take().watch(&imageCancel);
        std::mutex shownLock;
        const ScanResult pictures = ExactMatcher::scan(scan.roots, true, std::nullopt, {}, imageCancel, {});
        images = ImageScanner::scan(pictures.pictures, scan.roots, imageCancel, [&](std::int64_t done, std::int64_t total) {
            std::lock_guard lock(shownLock);
            showProgress("Measuring photos: " + std::to_string(done) + " of " + std::to_string(total));
        });
        endProgress();
        Signals::take().watch(nullptr);
        if (pictures.cancelled || imageCancel.isCancelled()) {
            std::fputs("The scan was cancelled; nothing was changed.\n", stderr);
            return declined;
        }
    }
    const auto now = std::chrono::system_clock::now();
    const ImageCompressionPlan photos(images.images, scan.roots, now);
    const CompressionPlan plan(options.videos ? scan.videos : std::vector<VideoItem>{}, scan.roots, now);
    const std::vector<LivePhotoPair> pairs = options.livePhotos ? scan.livePairs : std::vector<LivePhotoPair>{};
    const CleanupPlan stills = LivePhotoPlanner::plan(pairs, scan.roots, now);

    Json document = CommandLine::header("compress");
    if (options.json) {
        document["scan"] = CommandLine::withLocalDates(encodeJson(scan));
        document["plan"] = CommandLine::withLocalDates(encodeJson(plan));
        document["livePhotoPlan"] = CommandLine::withLocalDates(encodeJson(stills));
        if (options.images) {
            document["images"] = CommandLine::withLocalDates(encodeJson(images));
            document["imagePlan"] = CommandLine::withLocalDates(encodeJson(photos));
        }
    } else {
        printPlan(scan, options, plan);
        if (options.images) printImages(images, photos);
    }
    if (endsBeforeChanging(plan.videos.empty() && stills.removals.empty() && photos.images.empty(), options, document))
        return done;
    if (!options.yes && !approved(question(plan.videos.size(), stills.removals.size(), photos.images.size()))) {
        std::puts("Nothing was changed.");
        return declined;
    }

    int status = done;
    CancellationFlag cancel;
    Signals::take().watch(&cancel);
    if (!plan.videos.empty()) {
        const auto result = videos.compress(plan, {plan.id}, cancel, [&](const CompressionProgress& progress) {
            if (progress.done >= progress.total) return;
            const auto& video = plan.videos[static_cast<std::size_t>(progress.done)];
            const auto bytes = progress.bytesDone + static_cast<std::int64_t>(progress.current * static_cast<double>(video.snapshot.size));
            showProgress("Compressing " + std::to_string(progress.done + 1) + " of " + std::to_string(progress.total) + ", " +
                         std::to_string(static_cast<int>(progress.current * 100)) + "% (" + bytesText(bytes) + " of " +
                         bytesText(progress.bytesTotal) + "): " + displayable(video.name()));
        });
        endProgress();
        if (!result) {
            std::fprintf(stderr, "%s\n", result.error().description().c_str());
            return refused;
        }
        if (options.json) {
            document["report"] = CommandLine::withLocalDates(encodeJson(*result));
        } else {
            printCompression(*result);
            if (result->saved() > 0)
                std::printf("Saved %s; the originals are in the Trash (velmo-pristel put-back C1 puts them back).\n",
                            bytesText(result->saved()).c_str());
        }
        for (const auto& item : result->items)
            if (item.outcome.kind != CompressionOutcome::Kind::compressed) status = incomplete;
    }
    if (!stills.removals.empty() && !cancel.isCancelled()) {
        const CleanupExecutor executor(folders().cleanups(), std::make_shared<FileManagerTrasher>());
        const auto result = executor.execute(stills, stills.approve(now), cancel);
        if (!result) {
            std::fprintf(stderr, "%s\n", result.error().description().c_str());
            return refused;
        }
        if (options.json) document["livePhotoReport"] = CommandLine::withLocalDates(encodeJson(*result));
        else printStills(*result);
        if (result->moved() != static_cast<std::int64_t>(result->items.size())) status = incomplete;
    }
    if (!photos.images.empty() && !cancel.isCancelled()) {
        const auto result = videos.compressImages(photos, {photos.id}, cancel);
        if (!result) {
            std::fprintf(stderr, "%s\n", result.error().description().c_str());
            return refused;
        }
        if (options.json) document["imageReport"] = CommandLine::withLocalDates(encodeJson(*result));
        else printCompression(*result);
        for (const auto& item : result->items)
            if (item.outcome.kind != CompressionOutcome::Kind::compressed) status = incomplete;
    }
    if (options.json) std::printf("%s\n", CommandLine::jsonText(document).c_str());
    return Signals::take().requested() ? declined : status;
}

// ---- Inside a photo library

std::string shownItem(const std::string& name, const std::string& path) {
    return displayable(name) + " (" + displayable(path) + ")";
}

void printLibraryPlan(const MediaScan& scan, const Options& options, const CompressionPlan& plan,
                      const LibraryLivePlan& stills) {
    if (options.videos) {
        if (plan.videos.empty()) std::puts("No video in the library would shrink by 15% or more as HEVC at most 1080p.");
        else
            std::printf("Videos to compress (%zu, %s, about %s saved):\n", plan.videos.size(), bytesText(plan.totalBytes()).c_str(),
                        bytesText(plan.estimatedSavings()).c_str());
        for (const auto& video : plan.videos)
            std::printf("  %s \u2192 about %s  %s %lld\u00d7%lld  %s\n", bytesText(video.snapshot.size).c_str(),
                        bytesText(video.estimatedSize.value_or(0)).c_str(), video.codecName().c_str(),
                        static_cast<long long>(video.width), static_cast<long long>(video.height),
                        shownItem(video.name(), video.path).c_str());
        std::vector<const VideoItem*> leftAlone;
        for (const auto& video : scan.videos)
            if (video.leftAlone) leftAlone.push_back(&video);
        if (!leftAlone.empty()) std::printf("Left alone (%zu):\n", leftAlone.size());
        for (const auto* video : leftAlone)
            std::printf("  %s: %s\n", displayable(*video->leftAlone).c_str(), shownItem(video->name(), video->path).c_str());
    }
    if (options.livePhotos) {
        if (!stills.pairs.empty())
            std::printf("Live Photos (%zu): keeping only the stills frees %s of movies:\n", stills.pairs.size(),
                        bytesText(stills.movieBytes()).c_str());
        for (const auto& pair : stills.pairs)
            std::printf("  %s  %s\n", bytesText(pair.movieSize()).c_str(), shownItem(pair.name(), pair.still).c_str());
        for (const auto& skipped : scan.skipped)
            std::printf("  Kept: %s\n", displayable(skipped.detail.value_or(skipped.path)).c_str());
    }
}

std::string libraryQuestion(std::size_t videos, std::size_t pairs) {
    std::string text = question(videos, pairs, 0);
    // The folder question's ending, said of a library.
    text.resize(text.size() - std::string_view(" The originals go to the Trash. [y/N] ").size());
    return text + " Shotwell then lists the smaller ones in their place; the original files go to the Trash. [y/N] ";
}

void printLibraryReport(const CompressionReport& report, const std::map<std::string, std::string>& names, bool stills) {
    for (const auto& item : report.items) {
        const auto name = names.find(item.path);
        const std::string shownPath = shownItem(name == names.end() ? item.name() : name->second, item.path);
        const std::string word(item.outcome.word());
        if (item.outcome.kind == CompressionOutcome::Kind::compressed && stills)
            std::printf("Still kept, movie moved to the Trash: %s  %s saved\n", shownPath.c_str(), bytesText(item.saved()).c_str());
        else if (item.outcome.kind == CompressionOutcome::Kind::compressed)
            std::printf("%s: %s  %s \u2192 %s\n", word.c_str(), shownPath.c_str(), bytesText(item.originalSize).c_str(),
                        bytesText(item.outcome.newSize).c_str());
        else
            std::printf("%s (%s): %s\n", word.c_str(), displayable(item.outcome.reason).c_str(), shownPath.c_str());
    }
}

int compressLibrary(const Options& options) {
    const std::string database =
        LibraryClean::databaseFor(options.folders.empty() ? std::nullopt : std::optional(options.folders.front()));
    const Access access = ShotwellLibrary::access(database);
    if (const auto refusal = LibraryClean::refusal(access, database, "replaced")) {
        std::fprintf(stderr, "%s\n", refusal->c_str());
        return LibraryClean::refusalStatus(access);
    }
    // Said before the long part: the library is only changed while Shotwell is closed.
    if (!options.dryRun && ShotwellLibrary::isShotwellRunning(database)) {
        std::fprintf(stderr, "%s\n", std::string(ShotwellLibrary::runningText).c_str());
        return refused;
    }
    Signals::take();
    ShotwellLibrary library(database);

    const auto scanned = scanWithProgress([&](const CancellationFlag& cancel, const MediaScanner::Progress& progress) {
        return LibraryMediaScanner::scan(library, options.videos, cancel, progress);
    });
    if (!scanned) return declined;
    const MediaScan& scan = *scanned;
    const auto now = std::chrono::system_clock::now();
    const CompressionPlan plan(options.videos ? scan.videos : std::vector<VideoItem>{}, scan.roots, now);
    const LibraryLivePlan stills{Uuid::random(), options.livePhotos ? scan.livePairs : std::vector<LivePhotoPair>{}};
    std::map<std::string, std::string> names;
    for (const auto& video : plan.videos) names[video.path] = video.name();
    for (const auto& pair : stills.pairs) names[pair.still] = pair.name();

    Json document = CommandLine::header("compress");
    document["library"] = database;
    if (options.json) {
        document["scan"] = CommandLine::withLocalDates(encodeJson(scan));
        document["plan"] = CommandLine::withLocalDates(encodeJson(plan));
        document["livePhotoPlan"] = CommandLine::withLocalDates(encodeJson(stills));
    } else {
        printLibraryPlan(scan, options, plan, stills);
    }
    if (endsBeforeChanging(plan.videos.empty() && stills.pairs.empty(), options, document)) return done;
    if (!options.yes && !approved(libraryQuestion(plan.videos.size(), stills.pairs.size()))) {
        std::puts("Nothing was changed.");
        return declined;
    }

    int status = done;
    std::int64_t saved = 0;
    const LibraryMediaExecutor executor(PhotoCleanupModel::libraryVideoFolder());
    const auto settle = [&](const Result<CompressionReport, CompressionRefusal>& result, const char* key) {
        if (!result) {
            std::fprintf(stderr, "%s\n", result.error().description().c_str());
            status = refused;
            return;
        }
        if (options.json) document[key] = CommandLine::withLocalDates(encodeJson(*result));
        else printLibraryReport(*result, names, std::string_view(key) == "livePhotoReport");
        for (const auto& item : result->items)
            if (item.outcome.kind != CompressionOutcome::Kind::compressed) status = incomplete;
        saved += result->saved();
    };
    CancellationFlag cancel;
    Signals::take().watch(&cancel);
    if (!plan.videos.empty()) {
        const auto result = executor.compress(plan, {plan.id}, library, library, cancel, [&](const CompressionProgress& progress) {
            if (progress.done >= progress.total) return;
            const auto& video = plan.videos[static_cast<std::size_t>(progress.done)];
            const auto bytes = progress.bytesDone + static_cast<std::int64_t>(progress.current * static_cast<double>(video.snapshot.size));
            showProgress("Compressing " + std::to_string(progress.done + 1) + " of " + std::to_string(progress.total) + ", " +
                         std::to_string(static_cast<int>(progress.current * 100)) + "% (" + bytesText(bytes) + " of " +
                         bytesText(progress.bytesTotal) + "): " + displayable(video.name()));
        });
        endProgress();
        settle(result, "report");
    }
    if (!stills.pairs.empty() && !cancel.isCancelled() && status != refused)
        settle(executor.keepStills(stills.pairs, stills.id, {stills.id}, library, library), "livePhotoReport");
    if (!options.json && saved > 0)
        std::printf("Saved %s; the originals are in the Trash and Shotwell no longer lists them.\n", bytesText(saved).c_str());
    if (options.json) std::printf("%s\n", CommandLine::jsonText(document).c_str());
    if (status == refused) return refused;
    return Signals::take().requested() ? declined : status;
}

} // namespace

std::optional<std::string> argumentProblem(const std::vector<std::string>& arguments) {
    const auto options = parse(arguments);
    if (options) return std::nullopt;
    return options.error();
}

std::optional<int> runIfAsked(const std::vector<std::string>& arguments) {
    if (arguments.size() < 2 || arguments[1] != "compress") return std::nullopt;
    const auto options = parse(arguments);
    if (!options) {
        std::fprintf(stderr, "%s\n", options.error().c_str());
        return usage;
    }
    if (options->help) {
        std::fputs(help().c_str(), stdout);
        return done;
    }
    return options->library ? compressLibrary(*options) : compress(*options);
}

std::optional<std::size_t> chooseCompression(const std::vector<CompressionReport>& reports, std::string_view which) {
    if (which.size() >= 2 && (which[0] == 'C' || which[0] == 'c') &&
        std::all_of(which.begin() + 1, which.end(), [](char c) { return c >= '0' && c <= '9'; }) && which.size() < 8) {
        const std::size_t number = std::stoul(std::string(which.substr(1)));
        if (number >= 1 && number <= reports.size()) return number - 1;
        return std::nullopt;
    }
    if (which.size() < 8) return std::nullopt;
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        if (!lowercased(reports[i].planID.text()).starts_with(lowercased(std::string(which)))) continue;
        if (found) return std::nullopt; // more than one: the cleanup choice explains ambiguity
        found = i;
    }
    return found;
}

std::string historyLine(std::size_t number, const CompressionReport& report) {
    const auto count = [&](CompressionOutcome::Kind kind) {
        return std::to_string(std::count_if(report.items.begin(), report.items.end(),
                                            [&](const CompressionItem& item) { return item.outcome.kind == kind; }));
    };
    const auto seconds = std::chrono::floor<std::chrono::seconds>(report.started).time_since_epoch().count();
    return "C" + std::to_string(number) + ". " + CommandLine::localDateTime(seconds) + "  " +
           count(CompressionOutcome::Kind::compressed) + " compressed, " + count(CompressionOutcome::Kind::skipped) +
           " skipped, " + count(CompressionOutcome::Kind::failed) + " not compressed, " +
           count(CompressionOutcome::Kind::originalRestored) + " originals back, saved " + bytesText(report.saved()) +
           "  [" + report.planID.text() + "]";
}

std::vector<CompressionReport> compressionHistory() {
    const VideoCompressor videos = compressor();
    videos.recoverInterrupted();
    return videos.history();
}

void printHistory() {
    const auto reports = compressionHistory();
    if (reports.empty()) return;
    std::puts("\nCompressions (velmo-pristel put-back C<N> puts the originals back):");
    for (std::size_t i = 0; i < reports.size(); ++i) std::printf("%s\n", historyLine(i + 1, reports[i]).c_str());
}

Json historyJson() {
    Json list = Json::array();
    for (const auto& report : compressionHistory()) {
        Json record = CommandLine::withLocalDates(encodeJson(report));
        record["kind"] = "compression";
        list.push_back(std::move(record));
    }
    return list;
}

std::optional<int> putBackIfCompression(const std::vector<std::string>& operands) {
    if (operands.empty()) return std::nullopt;
    const VideoCompressor videos = compressor();
    videos.recoverInterrupted();
    const auto reports = videos.history();
    const auto chosen = chooseCompression(reports, operands.front());
    if (!chosen) {
        const std::string& which = operands.front();
        if (!which.empty() && (which[0] == 'C' || which[0] == 'c') && which.size() > 1 && which.size() < 8) {
            std::fprintf(stderr, "There is no compression %s in the history; it lists %zu.\n", displayable(which).c_str(),
                         reports.size());
            return usage;
        }
        return std::nullopt;
    }
    const CompressionReport& report = reports[*chosen];
    std::vector<const CompressionItem*> items;
    for (std::size_t i = 1; i < operands.size(); ++i) {
        const std::string path = CommandLine::absolutePath(fromDisplayable(operands[i]).value_or(operands[i]));
        const auto found = std::find_if(report.items.begin(), report.items.end(),
                                        [&](const CompressionItem& item) { return item.path == path; });
        if (found == report.items.end()) {
            std::fprintf(stderr, "Not a video of that compression: %s\n", asGiven(operands[i]).c_str());
            return usage;
        }
        items.push_back(&*found);
    }
    if (items.empty())
        for (const auto& item : report.items)
            if (item.outcome.kind == CompressionOutcome::Kind::compressed) items.push_back(&item);
    if (items.empty()) {
        std::puts("Nothing of that compression is in the Trash.");
        return refused;
    }
    int back = 0;
    for (const CompressionItem* item : items) {
        if (const auto sentence = videos.restoreOriginal(*item, report)) {
            std::printf("Not put back (%s): %s\n", displayable(*sentence).c_str(), shown(item->path).c_str());
        } else {
            ++back;
            std::printf("Original back: %s\n", shown(item->path).c_str());
        }
    }
    return back == static_cast<int>(items.size()) ? done : refused;
}

std::string help() {
    return "Usage: velmo-pristel compress [OPTION...] FOLDER...\n"
           "       velmo-pristel compress --library [shotwell|PHOTO.DB] [OPTION...]\n"
           "\n"
           "Finds videos that an HEVC copy of at most 1920x1080 would make at least 15% smaller, Live\n"
           "Photos kept as a still and a short movie, and JPEG and TIFF photos that a HEIC copy would make\n"
           "at least 15% smaller (measured by converting a sample of them). Shows each file's size and the\n"
           "estimated size of its copy, asks, then replaces each file with its copy: the copy is written\n"
           "beside the original under a hidden name and checked (a video is decoded to its end and must be\n"
           "as long, with picture and sound; a photo must decode at the same size, way up and date) before\n"
           "the original goes to the Trash. For Live Photos the movie goes to the Trash and the still\n"
           "stays. Nothing is ever deleted, and every step is recorded, so an interruption at any\n"
           "moment leaves the original or the checked copy in place.\n"
           "\n"
           "With --library, the videos and Live Photos of a Shotwell library (yours, or the photo.db\n"
           "given) are shrunk through the library: each smaller copy is added to Shotwell in its\n"
           "original's place, keeping its dates, event, tags and flags, and only then does the original\n"
           "file go to the Trash. Shotwell must be closed while the library changes.\n"
           "\n"
           "  --library [shotwell|PHOTO.DB]  a Shotwell library instead of folders\n"
           "  --videos        only the videos\n"
           "  --live-photos   only the Live Photos\n"
           "  --images        only the photos to HEIC (stored upright, EXIF kept)\n"
           "  --dry-run       show what would be done and stop\n"
           "  --yes           do it without asking\n"
           "  --json          print one JSON document (with --yes or --dry-run)\n"
           "\n"
           "velmo-pristel history lists compressions as C1, C2, ... (newest first);\n"
           "velmo-pristel put-back C1 [PATH...] puts their originals back (the copies go to the Trash);\n"
           "Live Photo movies are put back like any cleanup.\n"
           "Ctrl-C stops after the running video; its partial copy goes to the Trash.\n"
           "\n"
           "Exit status: 0 done, 1 declined or interrupted, 2 not understood, 3 refused, 4 some files\n"
           "were skipped or not compressed.\n";
}

} // namespace vp::CompressCommands
