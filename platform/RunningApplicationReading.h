#pragma once

#include <QList>
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

// A visible application entry of the desktop-entry directory.
struct DesktopApplication {
    QString id; // the desktop file id without ".desktop": "org.gnome.Totem", "kde-notes"
    QString localizedName; // the entry's Name in the user's language
    QString iconName;

    bool operator==(const DesktopApplication &) const = default;
};

// Looks up the application behind a process id, and the processes behind an
// application that a desktop knows only by id or name. Main thread only.
class RunningApplicationReading
{
public:
    virtual ~RunningApplicationReading() = default;

    // Absent when no process of this user has that id.
    virtual std::optional<RunningApplication> application(qint32 pid) = 0;

    // The entry an application id or name stands for, trying in turn: the
    // desktop file id itself (a trailing ".desktop" is ignored), the id in
    // any case, the entry's Name in any case, its StartupWMClass in any
    // case, the file name of the program it runs in any case (some
    // applications give a path), and last the first word of one of those
    // ("firefox" of "firefox-esr", "Firefox" of "Firefox ESR") when only one
    // entry has it. Absent when no visible application entry answers.
    virtual std::optional<DesktopApplication> desktopApplication(const QString &idOrName) = 0;

    // This user's processes running the application of an entry, lowest
    // first; empty for an unknown id or when none runs.
    virtual QList<qint32> processIds(const QString &desktopEntryId) = 0;

    // Whether the entry runs its program inside a terminal (Terminal=true):
    // the desktop then starts the terminal, and the program runs among the
    // terminal's processes rather than on its own.
    virtual bool runsInTerminal(const QString &desktopEntryId)
    {
        Q_UNUSED(desktopEntryId);
        return false;
    }
};
