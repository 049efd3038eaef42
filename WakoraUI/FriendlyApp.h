#pragma once

#include <QString>
#include <QStringList>

// An application that holds the machine awake right now, as the status panel
// names it.
struct FriendlyApp {
    qint32 pid = 0;
    QString name;
    bool keepsDisplayOn = false; // one of its assertions keeps the display on
    QStringList reasons; // distinct, non-empty, sorted

    // "화면을 켜 두는 중" or "Mac을 깨워 두는 중".
    QString activityText() const;
    // The row's tooltip: "PID <pid>", then one line per reason.
    QString detailText() const;

    bool operator==(const FriendlyApp &) const = default;
};

// Whether an assertion of this type keeps the display on: the power manager's
// display types ("PreventUserIdleDisplaySleep", any type naming "Display"
// without regard to case) and logind's idle inhibitors, whose colon-separated
// list of what they inhibit includes "idle" ("idle", "sleep:idle").
bool assertionTypeKeepsDisplayOn(const QString &type);
