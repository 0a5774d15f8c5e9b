#include "MarkRefusal.h"

#include "engine/common/Text.h"

namespace vp {

std::string MarkRefusal::message() const {
    switch (kind) {
    case Kind::protectedFolder:
        return "It is in " + lastPathComponent(detail) + ", a folder you protect.";
    case Kind::fixed:
        return detail + ".";
    case Kind::locked:
        return "You locked this one to keep it. Unlock it first.";
    case Kind::lastCopy:
        return "Every group keeps at least one copy. Unmark another copy first.";
    case Kind::notFound:
        return "That picture is not in these results.";
    }
    return {};
}

} // namespace vp
