// Libraries in memory for the tests: photos made of a few bytes, with the dates, types and
// resources each test needs.
#pragma once

#include "engine/library/MemoryLibrary.h"

#include <chrono>
#include <string>

namespace vp::testing {

inline Timestamp day(int d, int seconds = 0) {
    return Timestamp{std::chrono::sys_days{std::chrono::year{2024} / 5 / d}} + std::chrono::seconds(seconds);
}

/// A JPEG-typed photo of `width` × 100 pixels whose only resource holds `bytes`.
inline MemoryItem photo(std::string id, std::string bytes, int createdDay = 1, std::int64_t width = 400) {
    MemoryItem item;
    item.id = id;
    item.resources = {{ResourceType::photo, id + ".jpg", std::move(bytes), "public.jpeg", true}};
    item.pixelWidth = width;
    item.pixelHeight = 100;
    item.created = day(createdDay);
    item.modified = day(createdDay, 30);
    return item;
}

/// The same photo with its data stored elsewhere.
inline MemoryItem elsewhere(MemoryItem item) {
    for (auto& resource : item.resources) resource.isLocal = false;
    return item;
}

} // namespace vp::testing
