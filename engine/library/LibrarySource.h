// Library pictures as the rest of the system handles them: virtual paths beginning
// "photos-library:", and a PhotoAsset whose snapshot changes exactly when the item does.
#pragma once

#include "PhotoLibrary.h"
#include "engine/scan/PhotoAsset.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vp::LibrarySource {

inline constexpr std::string_view pathPrefix = "photos-library:";
inline constexpr std::string_view root = "Photos Library";
/// The device of every library picture's identity: never a real device.
inline constexpr std::uint64_t device = ~std::uint64_t{0};

bool isLibraryPath(std::string_view path);
std::string path(std::string_view id);
/// The identifier inside a library path; absent for any other path.
std::optional<std::string> id(std::string_view path);

/// 64-bit FNV-1a over the bytes of `text`.
std::uint64_t fnv(std::string_view text);

/// The snapshot of an item: its identity is built from the id and the change date to the
/// millisecond, its time is the shown date.
FileSnapshot snapshot(const std::string& id, std::optional<Timestamp> created, std::optional<Timestamp> modified,
                      std::int64_t size);

/// The asset of an item with `size` bytes.
PhotoAsset asset(const PhotoLibraryItem& item, std::int64_t size);

} // namespace vp::LibrarySource
