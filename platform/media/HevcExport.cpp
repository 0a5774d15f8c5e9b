#include "FFmpeg.h"

#include <cmath>
#include <set>
#include <string_view>

namespace vp::Movies {

namespace {

using namespace FFmpeg;

/// The sound of a copy: decoded, resampled to the AAC encoder's format, re-framed to its
/// 1024-sample frames.
class AacAudio {
public:
    static std::unique_ptr<AacAudio> open(const AVStream& source, bool globalHeader) {
        auto audio = std::make_unique<AacAudio>();
        audio->m_decoder = openDecoder(source);
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!audio->m_decoder || codec == nullptr) return nullptr;
        audio->m_encoder.reset(avcodec_alloc_context3(codec));
        AVCodecContext* encoder = audio->m_encoder.get();
        const AVCodecContext& decoder = *audio->m_decoder;
        if (encoder == nullptr) return nullptr;
        // Surround sound is folded to stereo: the copy is for watching, not for mixing.
        const int channels = std::min(decoder.ch_layout.nb_channels, 2);
        av_channel_layout_default(&encoder->ch_layout, channels > 0 ? channels : 2);
        encoder->sample_rate = decoder.sample_rate > 0 ? decoder.sample_rate : 48'000;
        encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
        encoder->bit_rate = aacBitRate(encoder->ch_layout.nb_channels);
        encoder->time_base = {1, encoder->sample_rate};
        if (globalHeader) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(encoder, codec, nullptr) < 0) return nullptr;
        SwrContext* resampler = nullptr;
        AVChannelLayout input{};
        if (decoder.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || decoder.ch_layout.nb_channels <= 0)
            av_channel_layout_default(&input, std::max(decoder.ch_layout.nb_channels, 1));
        else
            av_channel_layout_copy(&input, &decoder.ch_layout);
        const int code = swr_alloc_set_opts2(&resampler, &encoder->ch_layout, encoder->sample_fmt, encoder->sample_rate,
                                             &input, decoder.sample_fmt, decoder.sample_rate, 0, nullptr);
        av_channel_layout_uninit(&input);
        audio->m_resampler.reset(resampler);
        if (code < 0 || swr_init(resampler) < 0) return nullptr;
        audio->m_fifo.reset(av_audio_fifo_alloc(encoder->sample_fmt, encoder->ch_layout.nb_channels, encoder->frame_size));
        if (!audio->m_fifo) return nullptr;
        return audio;
    }

    AVCodecContext& encoder() { return *m_encoder; }

    /// One packet of the source's sound, or the end with none.
    int feed(const AVPacket* packet, const HevcVideo::Sink& sink) {
        int code = decode(*m_decoder, packet, [&](AVFrame& frame) { return resample(&frame, sink); });
        if (code < 0 || packet != nullptr) return code;
        if ((code = resample(nullptr, sink)) < 0) return code;
        if ((code = drain(true, sink)) < 0) return code;
        return encode(nullptr, sink);
    }

private:
    int resample(const AVFrame* frame, const HevcVideo::Sink& sink) {
        const int incoming = frame != nullptr ? frame->nb_samples : 0;
        const int room = swr_get_out_samples(m_resampler.get(), incoming);
        if (room <= 0) return 0;
        uint8_t** buffer = nullptr;
        if (av_samples_alloc_array_and_samples(&buffer, nullptr, m_encoder->ch_layout.nb_channels, room,
                                               m_encoder->sample_fmt, 0) < 0)
            return AVERROR(ENOMEM);
        const int converted = swr_convert(m_resampler.get(), buffer, room,
                                          frame != nullptr ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                                          incoming);
        int code = converted;
        if (converted > 0) code = av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void**>(buffer), converted);
        av_freep(&buffer[0]);
        av_freep(&buffer);
        if (code < 0) return code;
        return drain(false, sink);
    }

    int drain(bool all, const HevcVideo::Sink& sink) {
        const int frameSize = m_encoder->frame_size;
        while (av_audio_fifo_size(m_fifo.get()) >= frameSize || (all && av_audio_fifo_size(m_fifo.get()) > 0)) {
            const Frame frame(av_frame_alloc());
            if (!frame) return AVERROR(ENOMEM);
            frame->nb_samples = std::min(frameSize, av_audio_fifo_size(m_fifo.get()));
            frame->format = m_encoder->sample_fmt;
            frame->sample_rate = m_encoder->sample_rate;
            av_channel_layout_copy(&frame->ch_layout, &m_encoder->ch_layout);
            int code = av_frame_get_buffer(frame.get(), 0);
            if (code < 0) return code;
            if (av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(frame->data), frame->nb_samples) < 0)
                return AVERROR(EIO);
            frame->pts = m_samples;
            m_samples += frame->nb_samples;
            if ((code = encode(frame.get(), sink)) < 0) return code;
        }
        return 0;
    }

    int encode(const AVFrame* frame, const HevcVideo::Sink& sink) {
        int code = avcodec_send_frame(m_encoder.get(), frame);
        if (code < 0 && code != AVERROR_EOF) return code;
        const Packet packet(av_packet_alloc());
        if (!packet) return AVERROR(ENOMEM);
        while ((code = avcodec_receive_packet(m_encoder.get(), packet.get())) >= 0) {
            code = sink(*packet);
            av_packet_unref(packet.get());
            if (code < 0) return code;
        }
        return code == AVERROR(EAGAIN) || code == AVERROR_EOF ? 0 : code;
    }

    CodecContext m_decoder;
    CodecContext m_encoder;
    Resampler m_resampler;
    Fifo m_fifo;
    std::int64_t m_samples = 0;
};

/// Container facts that the muxer writes itself and must not be copied as tags.
const std::set<std::string_view> writtenByMuxer{"major_brand", "minor_version", "compatible_brands", "encoder"};

void copyMetadata(const AVDictionary* from, AVDictionary** to) {
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(from, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr)
        if (!writtenByMuxer.contains(entry->key)) av_dict_set(to, entry->key, entry->value, 0);
}

/// Frames without a time, or repeating one, would stop the muxer: each one gets the next tick.
struct Clock {
    std::int64_t last = AV_NOPTS_VALUE;
    std::int64_t next(std::int64_t pts) {
        if (pts == AV_NOPTS_VALUE || (last != AV_NOPTS_VALUE && pts <= last)) pts = last == AV_NOPTS_VALUE ? 0 : last + 1;
        return last = pts;
    }
};

std::string sentence(std::string_view what, int code) {
    return std::string(what) + " (" + errorText(code) + ").";
}

} // namespace

std::optional<std::string> exportHevc(const std::string& source, const std::string& destination, Container container,
                                      const ShouldStop& shouldStop, const ExportProgress& progress) {
    const auto stopped = [&] { return shouldStop && shouldStop(); };
    const auto input = open(source, &shouldStop);
    if (!input) return stopped() ? "Stopped." : "The movie could not be opened.";
    if (input->video() == nullptr) return "The movie has no picture to compress.";
    AVStream& sourceVideo = *input->video();

    AVFormatContext* rawOutput = nullptr;
    const char* formatName = container == Container::quickTime ? "mov" : "mp4";
    if (avformat_alloc_output_context2(&rawOutput, nullptr, formatName, destination.c_str()) < 0 || rawOutput == nullptr)
        return "The copy could not be started.";
    const OutputContext output(rawOutput);
    const bool globalHeader = (output->oformat->flags & AVFMT_GLOBALHEADER) != 0;

    CodecContext videoDecoder = openDecoder(sourceVideo);
    if (!videoDecoder) return "This computer cannot decode the movie's picture.";
    const auto video = HevcVideo::open(sourceVideo, sourceVideo.time_base, globalHeader);
    if (!video) return "This computer has no HEVC encoder for it.";
    std::unique_ptr<AacAudio> audio;
    if (input->audio() != nullptr) {
        audio = AacAudio::open(*input->audio(), globalHeader);
        if (!audio) return "This computer cannot convert the movie's sound.";
    }

    AVStream* videoOut = avformat_new_stream(output.get(), nullptr);
    if (videoOut == nullptr || avcodec_parameters_from_context(videoOut->codecpar, &video->context()) < 0)
        return "The copy could not be started.";
    // "hvc1" keeps the parameter sets in the sample description, as other players expect.
    videoOut->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    videoOut->time_base = video->context().time_base;
    videoOut->avg_frame_rate = video->context().framerate;
    videoOut->sample_aspect_ratio = video->context().sample_aspect_ratio;
    if (const double degrees = rotation(sourceVideo); degrees != 0) {
        auto* matrix = reinterpret_cast<int32_t*>(av_stream_new_side_data(videoOut, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
        if (matrix == nullptr) return "The copy could not be started.";
        av_display_rotation_set(matrix, degrees);
    }
    copyMetadata(sourceVideo.metadata, &videoOut->metadata);
    AVStream* audioOut = nullptr;
    if (audio) {
        audioOut = avformat_new_stream(output.get(), nullptr);
        if (audioOut == nullptr || avcodec_parameters_from_context(audioOut->codecpar, &audio->encoder()) < 0)
            return "The copy could not be started.";
        audioOut->time_base = audio->encoder().time_base;
        copyMetadata(input->audio()->metadata, &audioOut->metadata);
    }
    copyMetadata(input->format->metadata, &output->metadata);

    int code = avio_open(&output->pb, destination.c_str(), AVIO_FLAG_WRITE);
    if (code < 0) return sentence("The copy could not be created", code);
    AVDictionary* options = nullptr;
    // QuickTime keeps every key of the original (Live Photo identifier, location) as its own
    // metadata item; MPEG-4 keeps the standard ones (creation time, location, title).
    if (container == Container::quickTime) av_dict_set(&options, "movflags", "use_metadata_tags", 0);
    code = avformat_write_header(output.get(), &options);
    av_dict_free(&options);
    if (code < 0) return sentence("The copy could not be started", code);

    const auto write = [&](AVStream* stream, AVRational from) {
        return [&output, stream, from](AVPacket& packet) {
            packet.stream_index = stream->index;
            av_packet_rescale_ts(&packet, from, stream->time_base);
            return av_interleaved_write_frame(output.get(), &packet);
        };
    };
    const HevcVideo::Sink writeVideo = write(videoOut, video->context().time_base);
    HevcVideo::Sink writeAudio;
    if (audio) writeAudio = write(audioOut, audio->encoder().time_base);

    const double duration = input->duration();
    const double videoTick = av_q2d(sourceVideo.time_base);
    double lastShown = -1;
    Clock clock;
    const auto onVideoFrame = [&](AVFrame& frame) {
        const std::int64_t pts = clock.next(frame.best_effort_timestamp);
        if (progress && duration > 0) {
            const double fraction = std::clamp(static_cast<double>(pts) * videoTick / duration, 0.0, 1.0);
            if (fraction - lastShown >= 0.01) progress(lastShown = fraction);
        }
        return video->encode(&frame, pts, writeVideo);
    };

    const Packet packet(av_packet_alloc());
    if (!packet) return "The copy could not be started.";
    while ((code = av_read_frame(input->format.get(), packet.get())) >= 0) {
        if (stopped()) return "Stopped.";
        if (packet->stream_index == input->videoIndex)
            code = decode(*videoDecoder, packet.get(), onVideoFrame);
        else if (audio && packet->stream_index == input->audioIndex)
            code = audio->feed(packet.get(), writeAudio);
        else
            code = 0;
        av_packet_unref(packet.get());
        if (code < 0) return stopped() ? "Stopped." : sentence("The movie could not be converted", code);
    }
    if (stopped()) return "Stopped.";
    if (code != AVERROR_EOF) return sentence("The movie could not be read to its end", code);
    if ((code = decode(*videoDecoder, nullptr, onVideoFrame)) < 0 || (code = video->encode(nullptr, 0, writeVideo)) < 0 ||
        (audio && (code = audio->feed(nullptr, writeAudio)) < 0))
        return sentence("The movie could not be converted", code);
    if ((code = av_write_trailer(output.get())) < 0) return sentence("The copy could not be finished", code);
    // A full disk shows in the writer's error, not always in the trailer's answer.
    if ((code = output->pb->error) < 0 || (code = avio_closep(&output->pb)) < 0)
        return sentence("The copy could not be finished", code);
    if (progress) progress(1.0);
    return std::nullopt;
}

} // namespace vp::Movies
