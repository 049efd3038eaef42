#pragma once

#include "PowerStatusError.h"

#include <variant>

// The interface's view of one pending query: loading, its value, or why it failed.
template <typename Value> class QueryState
{
public:
    static QueryState loading() { return QueryState(std::monostate{}); }
    static QueryState available(Value value) { return QueryState(std::move(value)); }
    static QueryState failed(PowerStatusError error) { return QueryState(std::move(error)); }

    bool isLoading() const { return std::holds_alternative<std::monostate>(m_state); }
    const Value *value() const { return std::get_if<Value>(&m_state); }
    const PowerStatusError *error() const { return std::get_if<PowerStatusError>(&m_state); }

    bool operator==(const QueryState &) const = default;

private:
    template <typename T>
    explicit QueryState(T state)
        : m_state(std::move(state))
    { }

    std::variant<std::monostate, Value, PowerStatusError> m_state;
};
