#pragma once

#include <QHashFunctions>
#include <QString>

#include <optional>

// One line of the power-management command's listing.
struct PowerSetting {
    std::optional<QString> section; // heading without its colon; absent before the first
    QString name;
    QString value; // a token, maybe with a parenthesised remark; empty when the line has none

    bool operator==(const PowerSetting &) const = default;
};

inline size_t qHash(const PowerSetting &setting, size_t seed = 0)
{
    return qHashMulti(
        seed, setting.section.value_or(QString()), setting.section.has_value(), setting.name, setting.value);
}
