// Any bytes may sit in the settings file: a torn write, a damaged disk, a hand edit. Reading it
// must never crash, and no reader may throw, whatever type a value has.
#include "model/Settings.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vp;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Settings settings = Settings::fromText(text);
    const auto parsed = Settings::parse(text);
    if (parsed.problem.has_value() != settings.problem().has_value()) __builtin_trap();
    if (parsed.problem) return 0;
    for (const auto& [key, value] : parsed.values.items()) {
        (void)settings.strings(key);
        (void)settings.string(key);
        (void)settings.integer(key);
    }
    // An accepted file reads the same after the writer's own round trip.
    const auto again = Settings::parse(parsed.values.dump(2));
    if (again.problem || again.values != parsed.values) __builtin_trap();
    return 0;
}
