// A value or the reason there is none, in the shape of std::expected.
#pragma once

#include <cassert>
#include <utility>
#include <variant>

namespace vp {

template <class E>
struct Unexpected {
    E error;
};

template <class E>
Unexpected(E) -> Unexpected<E>;

template <class T, class E>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    template <class F>
    Result(Unexpected<F> failure) : m_state(std::in_place_index<1>, std::move(failure.error)) {}

    bool hasValue() const { return m_state.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    T& value() & { assert(hasValue()); return std::get<0>(m_state); }
    const T& value() const& { assert(hasValue()); return std::get<0>(m_state); }
    T&& value() && { assert(hasValue()); return std::get<0>(std::move(m_state)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const E& error() const { assert(!hasValue()); return std::get<1>(m_state); }

    bool operator==(const Result&) const = default;

private:
    std::variant<T, E> m_state;
};

} // namespace vp
