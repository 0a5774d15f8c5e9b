// Type identifiers ("public.jpeg", "com.adobe.raw-image", ...) are this system's internal
// names for picture types, and the shared MIME database says which extensions are images.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vp::TypeIdentifiers {

inline constexpr std::string_view rawImage = "public.camera-raw-image";

/// The type identifier of a picture extension (any case), when this system knows one.
std::optional<std::string> forExtension(std::string_view extension);

/// True for camera-RAW identifiers, the generic one included.
bool conformsToRawImage(std::string_view identifier);

/// True when the shared MIME database gives the extension an image/* type; a built-in
/// list stands in when the database is missing.
bool isImageExtension(std::string_view extension);

/// Lower-case extension to MIME type, from the simple "*.ext" patterns of a globs2 text
/// ("50:image/gif:*.gif" lines); the first pattern of an extension wins (highest weight).
std::unordered_map<std::string, std::string> parseGlobs2(std::string_view globs2);

} // namespace vp::TypeIdentifiers
