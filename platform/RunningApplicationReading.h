#pragma once

#include <QString>

#include <optional>

// A process of this user's session as the desktop knows it.
struct RunningApplication {
    qint32 pid = 0;
    // An application the user launched from the desktop: a visible desktop
    // entry of Type=Application matches its executable. Daemons, tray-only
    // helpers and command-line programs are not.
    bool isRegular = false;
    // For a regular application the entry's name in the user's language,
    // otherwise the process name; absent when neither is known.
    std::optional<QString> localizedName;
    // The entry's Icon, a theme name or a file path; empty when none.
    QString iconName;

    bool operator==(const RunningApplication &) const = default;
};

// Looks up the application behind a process id. Main thread only.
class RunningApplicationReading
{
public:
    virtual ~RunningApplicationReading() = default;

    // Absent when no process of this user has that id.
    virtual std::optional<RunningApplication> application(qint32 pid) = 0;
};
