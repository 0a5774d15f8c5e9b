#include "FFmpeg.h"

#include <algorithm>

namespace vp::Movies::FFmpeg {

int decode(AVCodecContext& decoder, const AVPacket* packet, const std::function<int(AVFrame&)>& onFrame) {
    int code = avcodec_send_packet(&decoder, packet);
    if (code < 0 && code != AVERROR_EOF) return code;
    const Frame frame(av_frame_alloc());
    if (!frame) return AVERROR(ENOMEM);
    while (true) {
        code = avcodec_receive_frame(&decoder, frame.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return 0;
        if (code < 0) return code;
        code = onFrame(*frame);
        av_frame_unref(frame.get());
        if (code < 0) return code;
    }
}

std::int64_t aacBitRate(int channels) { return 64'000 * std::clamp(channels, 1, 2); }

std::unique_ptr<HevcVideo> HevcVideo::open(const AVStream& source, AVRational timeBase, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx265");
    if (codec == nullptr) return nullptr;
    auto video = std::make_unique<HevcVideo>();
    video->m_encoder.reset(avcodec_alloc_context3(codec));
    AVCodecContext* encoder = video->m_encoder.get();
    if (encoder == nullptr) return nullptr;
    const Size size = fitted({source.codecpar->width, source.codecpar->height});
    encoder->width = size.width;
    encoder->height = size.height;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = timeBase;
    const AVRational rate = source.avg_frame_rate.num > 0 ? source.avg_frame_rate : source.r_frame_rate;
    if (rate.num > 0 && rate.den > 0) encoder->framerate = rate;
    encoder->sample_aspect_ratio = source.codecpar->sample_aspect_ratio;
    encoder->color_range = source.codecpar->color_range;
    encoder->color_primaries = source.codecpar->color_primaries;
    encoder->color_trc = source.codecpar->color_trc;
    encoder->colorspace = source.codecpar->color_space;
    if (globalHeader) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // Constant quality: the size follows the picture's content, so a trial encode of sampled
    // seconds predicts the whole copy. CRF 26 keeps fine detail at 1080p; "fast" keeps a 4K
    // minute to a few minutes on two cores.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "fast", 0);
    av_dict_set(&options, "crf", "26", 0);
    av_dict_set(&options, "x265-params", "log-level=none", 0);
    const int code = avcodec_open2(encoder, codec, &options);
    av_dict_free(&options);
    if (code < 0) return nullptr;
    video->m_scaled.reset(av_frame_alloc());
    if (!video->m_scaled) return nullptr;
    video->m_scaled->format = encoder->pix_fmt;
    video->m_scaled->width = encoder->width;
    video->m_scaled->height = encoder->height;
    if (av_frame_get_buffer(video->m_scaled.get(), 0) < 0) return nullptr;
    return video;
}

int HevcVideo::encode(const AVFrame* frame, std::int64_t pts, const Sink& sink) {
    AVCodecContext* encoder = m_encoder.get();
    int code = 0;
    if (frame != nullptr) {
        m_scaler.reset(sws_getCachedContext(m_scaler.release(), frame->width, frame->height,
                                            static_cast<AVPixelFormat>(frame->format), encoder->width, encoder->height,
                                            encoder->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!m_scaler) return AVERROR(EINVAL);
        // The encoder may still hold the previous picture's buffer.
        if ((code = av_frame_make_writable(m_scaled.get())) < 0) return code;
        sws_scale(m_scaler.get(), frame->data, frame->linesize, 0, frame->height, m_scaled->data, m_scaled->linesize);
        m_scaled->pts = pts;
        code = avcodec_send_frame(encoder, m_scaled.get());
    } else {
        code = avcodec_send_frame(encoder, nullptr);
    }
    if (code < 0 && code != AVERROR_EOF) return code;
    const Packet packet(av_packet_alloc());
    if (!packet) return AVERROR(ENOMEM);
    while (true) {
        code = avcodec_receive_packet(encoder, packet.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return 0;
        if (code < 0) return code;
        code = sink(*packet);
        av_packet_unref(packet.get());
        if (code < 0) return code;
    }
}

} // namespace vp::Movies::FFmpeg

// libx265 3.5 keeps a parameter block from every encoder it opens and never frees it (its
// encoder_close misses it). The sanitizer builds would report that library's leak as ours. Weak,
// because the tests' picture writer says the same for the HEIC files it writes through libx265.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions();
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
