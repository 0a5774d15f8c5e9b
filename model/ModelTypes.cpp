#include "ModelTypes.h"

#include "engine/scan/ExactMatcher.h"

namespace vp {

PhotoSource PhotoSource::at(const std::string& path, bool isProtected) {
    const auto volume = ExactMatcher::VolumeInfo::of(path);
    return {path, isProtected, volume.name.value_or(""), volume.isExternal};
}

std::string_view name(Mode mode) {
    switch (mode) {
    case Mode::exact: return "Exact duplicates";
    case Mode::similar: return "Similar photos";
    case Mode::series: return "Photo series";
    }
    return {};
}

std::string_view explanation(Mode mode) {
    switch (mode) {
    case Mode::exact:
        return "Identical copies, byte for byte: JPEG, PNG, HEIC, TIFF and RAW. Checked again before anything moves.";
    case Mode::similar:
        return "Resized, re-saved, rotated, cropped or edited versions, matched by appearance. Look at each group.";
    case Mode::series:
        return "Shots taken seconds apart in one folder. Different photos, not copies: keep the ones you like.";
    }
    return {};
}

} // namespace vp
