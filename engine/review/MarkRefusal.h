// Why a copy may not be marked for removal, in the words the review shows as they are.
#pragma once

#include <string>

namespace vp {

struct MarkRefusal {
    /// In the order the checks are made.
    enum class Kind { protectedFolder, fixed, locked, lastCopy, notFound };

    Kind kind = Kind::notFound;
    /// The protected folder for protectedFolder, the picture's keep reason for fixed; else empty.
    std::string detail;

    static MarkRefusal protectedFolder(std::string folder) {
        return {Kind::protectedFolder, std::move(folder)};
    }
    static MarkRefusal fixed(std::string reason) { return {Kind::fixed, std::move(reason)}; }
    static MarkRefusal locked() { return {Kind::locked, {}}; }
    static MarkRefusal lastCopy() { return {Kind::lastCopy, {}}; }
    static MarkRefusal notFound() { return {Kind::notFound, {}}; }

    /// One complete sentence.
    std::string message() const;

    bool operator==(const MarkRefusal&) const = default;
};

} // namespace vp
