// Any bytes may sit in the lock file. Reading it must never crash; every lock it keeps must be
// written and read back as the same lock, from a file that is then sound.
#include "engine/review/LockStore.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vp;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto content = LockStore::decodeFile(text);
    const auto again = LockStore::decodeFile(LockStore::encodeFile(content.locks));
    if (again.damaged || again.locks != content.locks) __builtin_trap();
    return 0;
}
