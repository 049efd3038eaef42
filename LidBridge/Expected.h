#pragma once

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

// A value or the error that took its place. The system reports failures as
// values (with the texts users and peers see), never as exceptions; this is
// the small subset of C++23's std::expected that the code needs.
template <typename E> class Unexpected
{
public:
    explicit Unexpected(E error)
        : m_error(std::move(error))
    { }
    E &error() & { return m_error; }
    E &&error() && { return std::move(m_error); }

private:
    E m_error;
};

template <typename E> Unexpected(E) -> Unexpected<E>;

template <typename T, typename E> class Expected
{
public:
    Expected() requires std::is_default_constructible_v<T> : m_storage(std::in_place_index<0>) { }
    Expected(T value)
        : m_storage(std::in_place_index<0>, std::move(value))
    { }
    template <typename G>
    Expected(Unexpected<G> failure)
        : m_storage(std::in_place_index<1>, std::move(failure).error())
    { }

    bool hasValue() const { return m_storage.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    const T &value() const &
    {
        assert(hasValue());
        return std::get<0>(m_storage);
    }
    T &&value() &&
    {
        assert(hasValue());
        return std::get<0>(std::move(m_storage));
    }
    const E &error() const
    {
        assert(!hasValue());
        return std::get<1>(m_storage);
    }

    bool operator==(const Expected &) const = default;

private:
    std::variant<T, E> m_storage;
};

template <typename E> class Expected<void, E>
{
public:
    Expected() = default;
    template <typename G>
    Expected(Unexpected<G> failure)
        : m_error(std::move(failure).error())
        , m_failed(true)
    { }

    bool hasValue() const { return !m_failed; }
    explicit operator bool() const { return hasValue(); }
    const E &error() const
    {
        assert(m_failed);
        return m_error;
    }

    bool operator==(const Expected &) const = default;

private:
    E m_error{};
    bool m_failed = false;
};
