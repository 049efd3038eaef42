#pragma once

#include "SessionRules.h"

#include <QCoroTask>

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

// Follows UPower on the system bus: whether the machine runs on battery
// (OnBattery) and the charge of its display device (Percentage), re-read on
// every change UPower announces and whenever UPower (re)appears. Without
// UPower it reports mains power and no level, so no rule ever fires on a
// machine that cannot tell. Main thread only.
class PowerSourceMonitor : public QObject
{
    Q_OBJECT

public:
    explicit PowerSourceMonitor(QDBusConnection systemBus, QObject *parent = nullptr);

    const SessionRules::PowerSource &source() const { return m_source; }
    // Reads both values; announces changed() when either differs.
    QCoro::Task<> read();

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void propertiesChanged();

private:
    QDBusConnection m_bus;
    QDBusServiceWatcher m_watcher;
    SessionRules::PowerSource m_source;
    bool m_reading = false;
    bool m_readAgain = false;
};
