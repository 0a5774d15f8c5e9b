#include "FFmpeg.h"

#include "platform/FolderHandle.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>

namespace vp::Movies::FFmpeg {

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void quietLogging() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

double Input::duration() const {
    if (format->duration > 0) return static_cast<double>(format->duration) / AV_TIME_BASE;
    double longest = 0;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->duration > 0) longest = std::max(longest, static_cast<double>(stream->duration) * av_q2d(stream->time_base));
    }
    return longest;
}

namespace {

int interrupted(void* opaque) {
    const auto* input = static_cast<const Input*>(opaque);
    return input->shouldStop != nullptr && *input->shouldStop && (*input->shouldStop)() ? 1 : 0;
}

/// The movie at `path`, opened through its folder reached without links, itself not a link, and
/// checked to be a plain file: FFmpeg then reads that very file through /proc, so a FIFO that
/// would block it for good, or a link swapped in after the scan, is never read.
UniqueFd openPlainFile(const std::string& path) {
    const std::filesystem::path absolute = std::filesystem::absolute(path).lexically_normal();
    const auto folder = FolderHandle::open(absolute.parent_path().string());
    if (!folder.handle) return UniqueFd();
    UniqueFd file(::openat(folder.handle->fd(), absolute.filename().c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return UniqueFd();
    return file;
}

} // namespace

std::unique_ptr<Input> open(const std::string& path, const ShouldStop* shouldStop) {
    quietLogging();
    const UniqueFd file = openPlainFile(path);
    if (file.get() < 0) return nullptr;
    auto input = std::make_unique<Input>();
    input->shouldStop = shouldStop;
    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr) return nullptr;
    context->interrupt_callback = {interrupted, input.get()};
    // Only files: a movie must never make the reader open a URL or another file it names.
    context->protocol_whitelist = av_strdup("file");
    const std::string opened = "/proc/self/fd/" + std::to_string(file.get());
    if (avformat_open_input(&context, opened.c_str(), nullptr, nullptr) < 0) return nullptr; // frees the context
    input->format.reset(context);
    if (avformat_find_stream_info(context, nullptr) < 0) return nullptr;
    input->videoIndex = -1;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        // Cover art is a picture attached to the file, not a video track.
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        const auto type = stream->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && input->videoIndex < 0) input->videoIndex = static_cast<int>(i);
        if (type == AVMEDIA_TYPE_AUDIO && input->audioIndex < 0) input->audioIndex = static_cast<int>(i);
    }
    return input;
}

CodecContext openDecoder(const AVStream& stream) {
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (codec == nullptr) return nullptr;
    CodecContext context(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_to_context(context.get(), stream.codecpar) < 0) return nullptr;
    context->pkt_timebase = stream.time_base;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
    return context;
}

double rotation(const AVStream& stream) {
    size_t size = 0;
    const auto* matrix = reinterpret_cast<const int32_t*>(
        av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size));
    if (matrix == nullptr || size < 9 * sizeof(int32_t)) return 0;
    const double degrees = av_display_rotation_get(matrix);
    return std::isnan(degrees) ? 0 : degrees;
}

} // namespace vp::Movies::FFmpeg
