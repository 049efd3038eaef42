#pragma once

#include "PowerSetting.h"

#include <QHashFunctions>
#include <QList>
#include <QString>

// One line of the power settings as the status panel shows it.
struct PowerSettingRow {
    QString name; // the display title, e.g. "Mac 잠자기"
    QString value; // e.g. "10분 후", "안 함", "켜짐"
    QString help; // the row's tooltip

    // The rows, in a fixed order of keys: "displaysleep", "sleep",
    // "disksleep" (minutes), then "powernap", "womp" (on or off). Each
    // comes from the first setting of that name whose value starts with a
    // number that fits; any other setting, or a missing one, gives no row.
    static QList<PowerSettingRow> rows(const QList<PowerSetting> &settings);

    bool operator==(const PowerSettingRow &) const = default;
};

inline size_t qHash(const PowerSettingRow &row, size_t seed = 0)
{
    return qHashMulti(seed, row.name, row.value, row.help);
}
