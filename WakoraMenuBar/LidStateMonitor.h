#pragma once

#include <QCoroTask>

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

// Follows logind on the system bus: whether the lid is closed (LidClosed)
// and whether an external display or a dock is attached (Docked), read at
// start, whenever logind (re)appears, and on every PropertiesChanged of
// logind's manager or of UPower, which tells of the lid's moves that logind
// keeps to itself. A dock attached or removed while nothing else changes is
// seen at the next such change. Without logind the lid counts as open. Main
// thread only.
class LidStateMonitor : public QObject
{
    Q_OBJECT

public:
    explicit LidStateMonitor(QDBusConnection systemBus, QObject *parent = nullptr);

    bool lidClosed() const { return m_lidClosed; }
    bool docked() const { return m_docked; }
    // Reads both values; announces changed() when either differs.
    QCoro::Task<> read();

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void propertiesChanged();

private:
    QDBusConnection m_bus;
    QDBusServiceWatcher m_watcher;
    bool m_lidClosed = false;
    bool m_docked = false;
    bool m_reading = false;
    bool m_readAgain = false;
};
