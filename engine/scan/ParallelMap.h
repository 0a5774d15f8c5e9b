// The bounded worker pool every per-item stage runs on: at most four threads, results kept
// by index so their order never depends on timing.
#pragma once

#include "CancellationFlag.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

namespace vp::ExactMatcher {

inline constexpr std::size_t maximumWorkers = 4;

/// A shared work cursor.
class Counter {
public:
    /// The next index to work on.
    std::size_t take() {
        std::lock_guard lock(m_mutex);
        return m_value++;
    }

private:
    std::mutex m_mutex;
    std::size_t m_value = 0;
};

/// One result slot per input, all absent at the start.
template <class R>
class ResultBox {
public:
    explicit ResultBox(std::size_t count) : m_values(count) {}
    void store(std::size_t index, R value) {
        std::lock_guard lock(m_mutex);
        m_values[index] = std::move(value);
    }
    std::vector<std::optional<R>> take() { return std::move(m_values); }

private:
    std::mutex m_mutex;
    std::vector<std::optional<R>> m_values;
};

/// Runs `work(index)` for every index below `count` on min(count, 4) threads. Each worker
/// checks the cancellation flag before taking new work.
template <class Work>
void concurrentPerform(std::size_t count, const CancellationFlag* cancel, Work&& work) {
    if (count == 0) return;
    Counter counter;
    const auto worker = [&] {
        while (true) {
            const std::size_t index = counter.take();
            if (index >= count) return;
            if (cancel != nullptr && cancel->isCancelled()) return;
            work(index);
        }
    };
    const std::size_t workers = std::min(count, maximumWorkers);
    std::vector<std::jthread> threads;
    threads.reserve(workers - 1);
    for (std::size_t i = 1; i < workers; ++i) threads.emplace_back(worker);
    worker(); // the calling thread is the last worker
}

/// `transform(item)` for every item, in input order; absent where cancellation stopped the work.
template <class T, class Transform>
auto parallelMap(const std::vector<T>& items, const CancellationFlag* cancel, Transform&& transform)
    -> std::vector<std::optional<std::invoke_result_t<Transform&, const T&>>> {
    using R = std::invoke_result_t<Transform&, const T&>;
    ResultBox<R> box(items.size());
    concurrentPerform(items.size(), cancel, [&](std::size_t index) { box.store(index, transform(items[index])); });
    return box.take();
}

} // namespace vp::ExactMatcher
