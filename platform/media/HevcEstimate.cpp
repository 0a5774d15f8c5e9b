#include "FFmpeg.h"

#include <cmath>
#include <utility>
#include <vector>

namespace vp::Movies {

namespace {

using namespace FFmpeg;

/// Seconds of the movie encoded on trial: the whole of a short movie, else three two-second
/// stretches at a fifth, a half and four fifths of it, so that an opening or closing scene does
/// not decide for the whole.
std::vector<std::pair<double, double>> sampledStretches(double duration) {
    if (duration <= 8.0) return {{0.0, duration + 1.0}};
    std::vector<std::pair<double, double>> stretches;
    for (const double at : {0.2, 0.5, 0.8}) stretches.emplace_back(duration * at - 1.0, duration * at + 1.0);
    return stretches;
}

/// x265's longest distance between key frames (its default, which the copy keeps).
constexpr double keyFrameInterval = 250.0;

/// The moov index costs about this much per sample, and the file's fixed boxes about 4 KiB.
constexpr double indexBytesPerSample = 12.0;
constexpr double fixedBytes = 4096.0;

} // namespace

std::optional<std::int64_t> estimateHevcSize(const std::string& source, Container container,
                                             const ShouldStop& shouldStop) {
    (void)container; // both containers index their samples alike
    const auto input = open(source, &shouldStop);
    if (!input || input->video() == nullptr) return std::nullopt;
    AVStream& stream = *input->video();
    const double duration = input->duration();
    const AVRational rate = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
    if (duration <= 0 || rate.num <= 0 || rate.den <= 0) return std::nullopt;
    CodecContext decoder = openDecoder(stream);
    // The trial encoder counts frames in ticks of the nominal rate; the stretches are glued.
    const auto video = HevcVideo::open(stream, av_inv_q(rate), true);
    if (!decoder || !video) return std::nullopt;

    std::int64_t bytes = 0, keyBytes = 0;
    std::int64_t frames = 0, packets = 0, keyFrames = 0;
    const HevcVideo::Sink count = [&](AVPacket& packet) {
        bytes += packet.size;
        ++packets;
        if (packet.flags & AV_PKT_FLAG_KEY) {
            keyBytes += packet.size;
            ++keyFrames;
        }
        return 0;
    };
    const Packet packet(av_packet_alloc());
    if (!packet) return std::nullopt;
    const double tick = av_q2d(stream.time_base);
    const auto stretches = sampledStretches(duration);
    const bool sampled = stretches.size() > 1;
    for (const auto& [from, to] : stretches) {
        if (from > 0) {
            const auto target = static_cast<std::int64_t>(from / tick) + (stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0);
            if (av_seek_frame(input->format.get(), input->videoIndex, target, AVSEEK_FLAG_BACKWARD) < 0) return std::nullopt;
            avcodec_flush_buffers(decoder.get());
        }
        bool past = false;
        const auto onFrame = [&](AVFrame& frame) {
            const double at = frame.best_effort_timestamp == AV_NOPTS_VALUE
                                  ? from
                                  : static_cast<double>(frame.best_effort_timestamp - (stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0)) * tick;
            if (at < from) return 0;
            if (at >= to) {
                past = true;
                return 0;
            }
            return video->encode(&frame, frames++, count);
        };
        int code = 0;
        while (!past && (code = av_read_frame(input->format.get(), packet.get())) >= 0) {
            if (shouldStop && shouldStop()) return std::nullopt;
            if (packet->stream_index == input->videoIndex) code = decode(*decoder, packet.get(), onFrame);
            av_packet_unref(packet.get());
            if (code < 0) return std::nullopt;
        }
        if (!past && decode(*decoder, nullptr, onFrame) < 0) return std::nullopt;
    }
    if (video->encode(nullptr, 0, count) < 0 || frames == 0) return std::nullopt;

    const double totalFrames = std::max(duration * av_q2d(rate), static_cast<double>(frames));
    double estimate = static_cast<double>(bytes) / static_cast<double>(frames) * totalFrames;
    // Each sampled stretch starts with a key frame, which costs many times an ordinary one; the
    // whole copy has one every 250 frames (scene cuts aside). Weighing the two kinds apart keeps
    // a still scene's few key frames from being counted once per stretch.
    if (sampled && keyFrames > 0 && packets > keyFrames) {
        const double keys = std::max(1.0, std::ceil(totalFrames / keyFrameInterval));
        const double keyCost = static_cast<double>(keyBytes) / static_cast<double>(keyFrames);
        const double otherCost = static_cast<double>(bytes - keyBytes) / static_cast<double>(packets - keyFrames);
        estimate = keyCost * std::min(keys, totalFrames) + otherCost * std::max(0.0, totalFrames - keys);
    }
    estimate += indexBytesPerSample * totalFrames + fixedBytes;
    if (const AVStream* audio = input->audio()) {
        const int channels = audio->codecpar->ch_layout.nb_channels;
        const double sampleRate = audio->codecpar->sample_rate > 0 ? audio->codecpar->sample_rate : 48'000;
        estimate += static_cast<double>(aacBitRate(channels)) / 8.0 * duration;
        estimate += indexBytesPerSample * duration * sampleRate / 1024.0;
    }
    return static_cast<std::int64_t>(std::llround(estimate));
}

} // namespace vp::Movies
