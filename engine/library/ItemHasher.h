// The hash every library gives an item: SHA-256 over each resource, in order of type then file
// name, each preceded by its type number and "|", so that two items hash equal only when all
// their resources are byte-identical and of the same types.
#pragma once

#include "PhotoLibrary.h"
#include "engine/common/Digest.h"

#include <algorithm>
#include <string_view>
#include <tuple>

namespace vp {

class ItemHasher {
public:
    explicit ItemHasher(const PhotoLibraryReading::ByteCallback& onBytes) : m_onBytes(onBytes) {}

    void beginResource(int type) { m_sha.add(std::to_string(type) + "|"); }
    /// Hashes and counts the chunk, then asks the callback; false once it asked to stop (the
    /// chunk is counted all the same).
    bool add(std::string_view chunk) {
        m_sha.add(chunk);
        m_bytes += static_cast<std::int64_t>(chunk.size());
        if (m_onBytes && !m_onBytes(static_cast<std::int64_t>(chunk.size()))) m_stopped = true;
        return !m_stopped;
    }
    bool isStopped() const { return m_stopped; }
    LibraryHash finish() { return LibraryHash::hashed(m_sha.finish(), m_bytes); }

    /// Sorts resources (anything with `type` and `filename`) into hashing order.
    template <class Resources>
    static void sortForHashing(Resources& resources) {
        std::stable_sort(resources.begin(), resources.end(), [](const auto& a, const auto& b) {
            return std::tie(a.type, a.filename) < std::tie(b.type, b.filename);
        });
    }

private:
    const PhotoLibraryReading::ByteCallback& m_onBytes;
    Sha256 m_sha;
    std::int64_t m_bytes = 0;
    bool m_stopped = false;
};

} // namespace vp
