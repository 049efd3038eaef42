#pragma once

#include <QJsonValue>

#include <cmath>
#include <optional>

// A JSON number that is a whole number within qint64's range; absent for
// anything else (a string, a fraction, a value too large to count with).
inline std::optional<qint64> jsonInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    // ±2^63 is exactly representable as a double; qint64 stops just short of +2^63.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(number) || number != std::trunc(number) || number >= limit || number < -limit)
        return std::nullopt;
    return static_cast<qint64>(number);
}
