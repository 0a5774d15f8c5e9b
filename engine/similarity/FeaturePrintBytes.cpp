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
    if (result.width < 1 || result.height < 1 || bytes.size() != headerSize + count * cornerSize) return std::nullopt;
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
