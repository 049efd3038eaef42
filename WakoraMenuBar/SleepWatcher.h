#pragma once

#include <QDBusConnection>
#include <QObject>

// logind's word that the machine is about to sleep and that it has resumed
// (PrepareForSleep on the system bus). Nothing is polled: without logind
// nothing is heard.
class SleepWatcher final : public QObject
{
    Q_OBJECT

public:
    explicit SleepWatcher(QDBusConnection systemBus, QObject *parent = nullptr);

Q_SIGNALS:
    void goingToSleep();
    void resumed();

private Q_SLOTS:
    void preparingForSleep(bool starting);
};
