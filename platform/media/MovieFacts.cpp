#include "FFmpeg.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <utility>

namespace vp::Movies {

std::string fourCC(std::uint32_t code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) text[static_cast<std::size_t>(i)] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    return text;
}

namespace {

/// FFmpeg keeps the sample-entry code least significant byte first; formats without one
/// (a raw stream, an AVI) are named by their codec.
std::string codecCode(const AVCodecParameters& parameters) {
    if (const std::uint32_t tag = parameters.codec_tag; tag != 0) {
        const std::uint32_t swapped = ((tag & 0xFF) << 24) | ((tag & 0xFF00) << 8) | ((tag >> 8) & 0xFF00) | (tag >> 24);
        const std::string code = fourCC(swapped);
        if (std::all_of(code.begin(), code.end(), [](char c) { return std::isprint(static_cast<unsigned char>(c)); }))
            return code;
    }
    switch (parameters.codec_id) {
    case AV_CODEC_ID_H264: return "avc1";
    case AV_CODEC_ID_HEVC: return "hvc1";
    case AV_CODEC_ID_PRORES: return "apcn";
    default: break;
    }
    const char* name = avcodec_get_name(parameters.codec_id);
    return std::string(name).substr(0, 4);
}

double nominalRate(const AVStream& stream) {
    for (const AVRational rate : {stream.avg_frame_rate, stream.r_frame_rate})
        if (rate.num > 0 && rate.den > 0) return av_q2d(rate);
    return 0;
}

} // namespace

std::optional<Facts> read(const std::string& path) {
    const auto input = FFmpeg::open(path);
    if (!input || input->video() == nullptr) return std::nullopt;
    const AVStream& video = *input->video();
    Facts facts;
    facts.duration = input->duration();
    facts.width = video.codecpar->width;
    facts.height = video.codecpar->height;
    // A quarter turn either way stands the picture on its side.
    const long quarterTurns = std::lround(FFmpeg::rotation(video) / 90.0);
    if (quarterTurns % 2 != 0) std::swap(facts.width, facts.height);
    facts.frameRate = nominalRate(video);
    facts.codec = codecCode(*video.codecpar);
    if (const AVDictionaryEntry* entry = av_dict_get(input->format->metadata, contentIdentifierKey, nullptr, 0))
        facts.contentIdentifier = entry->value;
    for (unsigned i = 0; i < input->format->nb_streams; ++i) {
        const AVStream* stream = input->format->streams[i];
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) ++facts.videoTracks;
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) ++facts.audioTracks;
    }
    if (facts.width <= 0 || facts.height <= 0) return std::nullopt;
    return facts;
}

Container containerFor(const std::string& path) {
    const auto dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return Container::mpeg4;
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == "mov" ? Container::quickTime : Container::mpeg4;
}

Size fitted(Size source) {
    const int longer = std::max(source.width, source.height);
    const int shorter = std::min(source.width, source.height);
    if (longer <= 0 || shorter <= 0) return {};
    const double scale = std::min({1.0, 1920.0 / longer, 1080.0 / shorter});
    // Rounding down keeps the copy inside the box and never above the source.
    const auto even = [&](int side) { return std::max(2, static_cast<int>(std::floor(side * scale / 2.0)) * 2); };
    return {even(source.width), even(source.height)};
}

} // namespace vp::Movies
