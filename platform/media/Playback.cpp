#include "FFmpeg.h"

#include <map>

namespace vp::Movies {

Playback decodeFully(const std::string& path, const ShouldStop& shouldStop) {
    Playback playback;
    const auto input = FFmpeg::open(path, &shouldStop);
    if (!input) return playback;
    playback.duration = input->duration();
    std::map<int, FFmpeg::CodecContext> decoders;
    for (unsigned i = 0; i < input->format->nb_streams; ++i) {
        const AVStream& stream = *input->format->streams[i];
        if (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        const auto type = stream.codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) continue;
        ++(type == AVMEDIA_TYPE_VIDEO ? playback.videoTracks : playback.audioTracks);
        auto decoder = FFmpeg::openDecoder(stream);
        // A track this computer cannot decode is a track that does not play.
        if (!decoder) return playback;
        decoders.emplace(static_cast<int>(i), std::move(decoder));
    }
    const auto onFrame = [&](int index) {
        return [&, index](AVFrame&) {
            if (input->format->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) ++playback.videoFrames;
            return 0;
        };
    };
    const FFmpeg::Packet packet(av_packet_alloc());
    if (!packet) return playback;
    int code = 0;
    while ((code = av_read_frame(input->format.get(), packet.get())) >= 0) {
        if (shouldStop && shouldStop()) return playback;
        const auto found = decoders.find(packet->stream_index);
        if (found != decoders.end()) code = FFmpeg::decode(*found->second, packet.get(), onFrame(found->first));
        av_packet_unref(packet.get());
        if (code < 0) return playback;
    }
    if (code != AVERROR_EOF) return playback;
    for (auto& [index, decoder] : decoders)
        if (FFmpeg::decode(*decoder, nullptr, onFrame(index)) < 0) return playback;
    // Decoders conceal damaged data rather than fail; a cut-off file shows as missing frames.
    playback.decoded = playback.videoTracks == 0 || playback.videoFrames > 0;
    return playback;
}

} // namespace vp::Movies
