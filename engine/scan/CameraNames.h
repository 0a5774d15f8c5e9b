// Camera names as cameras write them ("NIKON CORPORATION" / "NIKON D850") and as the RAW
// decoder lists them ("Nikon D850", "Sony ILCE-7M3 (A7 III)", "Canon EOS 350D / Digital Rebel
// XT") reduced to keys that compare equal when they name the same camera.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vp::CameraNames {

/// Lower-case letters and digits only: "ILCE-7M3" and "ilce 7m3" give the same key.
std::string key(std::string_view name);

/// Every key one entry of the decoder's camera list stands for: its main name, the names
/// after " / ", and the name with its parenthesised remark left out or run in ("SLT-A55(V)").
std::vector<std::string> listKeys(std::string_view entry);

/// Every key to look up for a camera's EXIF make and model: the make without its company
/// words, the model without a repeated make, a trailing " camera" or " digital", or a
/// parenthesised remark, and for Sony the "ILCE-", "SLT-A" and "Alpha " spellings of the model.
std::vector<std::string> lookupKeys(std::string_view make, std::string_view model);

/// True when one of the camera's lookup keys is among `listed`.
bool isListed(const std::unordered_set<std::string>& listed, std::string_view make, std::string_view model);

} // namespace vp::CameraNames
