// Owning wrappers around FFmpeg's objects, and the input side every movie service shares.
// Private to platform/media: nothing outside includes FFmpeg.
#pragma once

#include "Movies.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace vp::Movies::FFmpeg {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct OutputCloser {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr && !(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
struct CodecCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScaleFreer {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct ResampleFreer {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
struct FifoFreer {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};

using InputContext = std::unique_ptr<AVFormatContext, InputCloser>;
using OutputContext = std::unique_ptr<AVFormatContext, OutputCloser>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecCloser>;
using Frame = std::unique_ptr<AVFrame, FrameFreer>;
using Packet = std::unique_ptr<AVPacket, PacketFreer>;
using Scaler = std::unique_ptr<SwsContext, ScaleFreer>;
using Resampler = std::unique_ptr<SwrContext, ResampleFreer>;
using Fifo = std::unique_ptr<AVAudioFifo, FifoFreer>;

/// FFmpeg's own text for an error code.
std::string errorText(int code);

/// Quietens FFmpeg's console logging once per process: failures reach people as sentences.
void quietLogging();

/// An opened movie with its first video track and first audio track, when there are ones.
struct Input {
    InputContext format;
    int videoIndex = -1;
    int audioIndex = -1;
    /// Set while `shouldStop` is checked by the reader's interrupt callback.
    const ShouldStop* shouldStop = nullptr;

    AVStream* video() const { return videoIndex < 0 ? nullptr : format->streams[videoIndex]; }
    AVStream* audio() const { return audioIndex < 0 ? nullptr : format->streams[audioIndex]; }
    /// Seconds, from the container, else the longest track.
    double duration() const;
};

/// Opens and probes `path`; none when it is not a movie FFmpeg can read. `shouldStop`, when
/// given, must outlive the input: blocking reads give up when it answers true.
std::unique_ptr<Input> open(const std::string& path, const ShouldStop* shouldStop = nullptr);

/// A decoder for one input stream, none when this FFmpeg has none.
CodecContext openDecoder(const AVStream& stream);

/// The rotation of a video track in degrees, as its display matrix says (0 without one).
double rotation(const AVStream& stream);

} // namespace vp::Movies::FFmpeg

#include <functional>

namespace vp::Movies::FFmpeg {

/// Sends one packet (or, with none, the end of the stream) to `decoder` and hands every frame
/// that comes out to `onFrame`. 0, or the first negative code of FFmpeg or of `onFrame`.
int decode(AVCodecContext& decoder, const AVPacket* packet, const std::function<int(AVFrame&)>& onFrame);

/// The HEVC side of a copy: frames scaled into the fitted size, encoded by x265.
class HevcVideo {
public:
    using Sink = std::function<int(AVPacket&)>;

    /// None when this FFmpeg has no x265. `timeBase` is the time base of the pts given to encode.
    static std::unique_ptr<HevcVideo> open(const AVStream& source, AVRational timeBase, bool globalHeader);

    /// Scales one decoded frame and encodes it at `pts`; with no frame, drains the encoder.
    int encode(const AVFrame* frame, std::int64_t pts, const Sink& sink);
    AVCodecContext& context() { return *m_encoder; }

private:
    CodecContext m_encoder;
    Scaler m_scaler;
    Frame m_scaled;
};

/// The AAC rate of a copy's sound, bits per second.
std::int64_t aacBitRate(int channels);

} // namespace vp::Movies::FFmpeg
