#pragma once

#include "DesktopInhibitor.h"
#include "LogindInhibitor.h"
#include "ProcessAssertion.h"

#include <QHash>
#include <QList>

#include <optional>

class RunningApplicationReading;

// Who keeps the machine awake, from every list that answered: logind's,
// which knows each holder's pid, and the desktops' own, which know only an
// application id or name.
class AssertionMerge
{
public:
    // What an application id or name of a desktop list stands for.
    struct Application {
        std::optional<qint32> pid; // absent when no process of it runs
        QString name; // the entry's name, else the id or name as listed

        bool operator==(const Application &) const = default;
    };

    struct Listings {
        QList<LogindInhibitor> logind;
        QList<DesktopInhibitor> desktop; // the desktop lists', one after the other
        QHash<QString, Application> applications; // by DesktopInhibitor::application
        std::optional<qint32> agentPid; // the process that holds our own inhibitors
    };

    // One assertion per entry, ordered by pid, then type, then reason
    // (stable, so equal keys keep the order of the lists):
    // - logind's entries as logind gives them, but for the desktops' own
    //   proxy locks (DesktopProxyLocks);
    // - KDE's entries but those it copied from logind's block locks (the
    //   same who and why), which logind lists already; each with what it
    //   holds off: ours by the reason we gave, the others by what is in
    //   effect that ours and the copies do not account for (see AssertionMerge.cpp);
    // - our own desktop entries under the agent's pid;
    // - every other desktop entry under the pid of its application, or,
    //   when none runs, under a pid of its own below zero, one per name in
    //   the order of the names, so that no real process and no other
    //   application shares it. Such an entry carries the name as its
    //   process name and reads as a named process without an application.
    static QList<ProcessAssertion> merge(const Listings &listings);

    // Every application the desktop lists name (ours aside) as the
    // desktop-entry directory finds it: the lowest pid running its entry.
    static QHash<QString, Application> resolve(
        const QList<DesktopInhibitor> &desktop, RunningApplicationReading &applications);

    // Our own app id (gnome-session) or application name (the others).
    static bool isWakora(const QString &application);
};
