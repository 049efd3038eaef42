#pragma once

#include "Trigger.h"

#include <QDBusConnection>

class SleepWatcher;
class WallClockWatcher;
#include <QList>
#include <QString>

// Where the triggers look: the real desktop's by default, stand-ins for
// tests (given on the agent's command line).
struct TriggerPlaces {
    QDBusConnection sessionBus = QDBusConnection::sessionBus();
    QDBusConnection systemBus = QDBusConnection::systemBus();
    QString proc = QStringLiteral("/proc"); // the busy trigger's counters
    // The agent's watchers of clock changes and resumes, which the schedule
    // follows; they outlive the triggers.
    WallClockWatcher *wallClock = nullptr;
    SleepWatcher *sleep = nullptr;
};

// Every trigger the agent offers, made for this desktop, in the order they
// are shown. The parent owns them.
QList<Trigger *> makeTriggers(const TriggerPlaces &places, QObject *parent);
