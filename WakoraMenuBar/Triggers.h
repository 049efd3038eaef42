#pragma once

#include "Trigger.h"

#include <QDBusConnection>
#include <QList>
#include <QString>

// Where the triggers look: the real desktop's by default, stand-ins for
// tests (given on the agent's command line).
struct TriggerPlaces {
    QDBusConnection sessionBus = QDBusConnection::sessionBus();
    QDBusConnection systemBus = QDBusConnection::systemBus();
    QString proc = QStringLiteral("/proc"); // the busy trigger's counters
};

// Every trigger the agent offers, made for this desktop, in the order they
// are shown. The parent owns them.
QList<Trigger *> makeTriggers(const TriggerPlaces &places, QObject *parent);
