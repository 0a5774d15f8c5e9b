// Reading a stored feature print back, checking every length before trusting it.
#include "FeatureExtractor.h"
#include "FeaturePrintFormat.h"

#include <cstring>

namespace vp::FeatureExtractor {

using namespace PrintFormat;

std::optional<FeaturePrintObservation> observation(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < headerSize || bytes[0] != 'V' || bytes[1] != 'P' || bytes[2] != 'F' ||
        bytes[3] != featurePrintRevision)
        return std::nullopt;
    FeaturePrintObservation result;
    result.width = static_cast<int>(wordAt(bytes, 4));
    result.height = static_cast<int>(wordAt(bytes, 6));
    const std::size_t count = wordAt(bytes, 8);
    const std::size_t cornersEnd = headerSize + count * cornerSize;
    if (result.width < 1 || result.height < 1 || bytes.size() < cornersEnd + 4) return std::nullopt;
    result.glanceWidth = static_cast<int>(wordAt(bytes, cornersEnd));
    result.glanceHeight = static_cast<int>(wordAt(bytes, cornersEnd + 2));
    if (result.glanceWidth < 1 || result.glanceHeight < 1 || result.glanceWidth > glanceSide ||
        result.glanceHeight > glanceSide ||
        bytes.size() != cornersEnd + 4 + static_cast<std::size_t>(result.glanceWidth * result.glanceHeight))
        return std::nullopt;
    result.glance.assign(bytes.begin() + static_cast<std::ptrdiff_t>(cornersEnd + 4), bytes.end());
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = headerSize + i * cornerSize;
        result.points.push_back({static_cast<float>(wordAt(bytes, at)) / positionScale,
                                 static_cast<float>(wordAt(bytes, at + 2)) / positionScale});
        FeaturePrintObservation::Descriptor descriptor{};
        std::memcpy(descriptor.data(), bytes.data() + at + 4, 32);
        result.descriptors.push_back(descriptor);
    }
    return result;
}

} // namespace vp::FeatureExtractor
