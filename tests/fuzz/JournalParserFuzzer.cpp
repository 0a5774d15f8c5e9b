// Any bytes at all may sit in a journal file: torn lines after a crash, a damaged disk, or a
// hand-edited file. Parsing must never crash, and what it reads must make a report.
#include "engine/cleanup/CleanupJournal.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vp;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = CleanupJournal::parseText(text);
    if (!parsed) return 0;

    const CleanupReport report = CleanupJournal::report(*parsed, "journal.jsonl");
    if (report.items.size() != parsed->plan.removals.size()) __builtin_trap();
    if (report.moved() + report.skipped() + report.failed() + report.unknown() + report.restored() !=
        static_cast<std::int64_t>(report.items.size()))
        __builtin_trap();

    // What was read is written back the same way: a plan that travels through a journal twice
    // is still the same plan.
    const auto again = decodeJson<CleanupPlan>(encodeJson(parsed->plan));
    if (!again || !(*again == parsed->plan)) __builtin_trap();
    for (const auto& item : report.items) {
        const auto outcome = decodeJson<ItemOutcome>(encodeJson(item.outcome));
        if (!outcome || !(*outcome == item.outcome)) __builtin_trap();
    }
    return 0;
}
