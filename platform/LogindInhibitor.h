#pragma once

#include <QString>

// One entry of logind's ListInhibitors, a(ssssuu).
struct LogindInhibitor {
    QString what; // colon-separated: "sleep", "idle", "handle-lid-switch", …
    QString who;
    QString why;
    QString mode; // "block" or "delay"
    quint32 uid = 0;
    quint32 pid = 0;

    bool operator==(const LogindInhibitor &) const = default;
};
