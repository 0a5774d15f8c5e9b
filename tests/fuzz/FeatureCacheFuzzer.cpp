// Any bytes may sit in the feature cache. Reading it must never crash, and every entry it keeps
// must have the shape of a measurement (so comparisons never read short hash lists) and be
// written and read back unchanged.
#include "engine/similarity/FeatureCache.h"
#include "engine/similarity/HashSketch.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vp;
    const auto entries = FeatureCacheFile::decode(std::string(reinterpret_cast<const char*>(data), size));
    for (const auto& [key, features] : entries) {
        const auto sketch = HashSketch::of(features);
        if (!sketch || sketch->hashes.size() != 4 || sketch->detailHashes.size() != 4) __builtin_trap();
        for (const auto& words : sketch->detailHashes)
            if (words.size() != 4) __builtin_trap();
        if (features.pixelWidth < 0 || features.pixelHeight < 0) __builtin_trap();
    }
    // libplist keeps a date as a double and reads its microseconds back truncated, so a date
    // with a fraction of a second may return one microsecond early. Capture dates are whole
    // seconds (EXIF has no finer field), which return exactly; anything else must match.
    const auto again = FeatureCacheFile::decode(FeatureCacheFile::encode(entries));
    if (again.size() != entries.size()) __builtin_trap();
    for (const auto& [key, features] : entries) {
        const auto found = again.find(key);
        if (found == again.end()) __builtin_trap();
        ImageFeatures written = found->second;
        if (features.captureDate && written.captureDate) {
            const auto early = *features.captureDate - *written.captureDate;
            if (early >= Timestamp::duration::zero() && early <= std::chrono::microseconds(1))
                written.captureDate = features.captureDate;
        }
        if (!(written == features)) __builtin_trap();
    }
    return 0;
}
