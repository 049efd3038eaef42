#include "SleepWatcher.h"

#include <QDBusError>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcSleep, "com.quorvel.WakoraApp.MenuBar.Sleep")

SleepWatcher::SleepWatcher(QDBusConnection systemBus, QObject *parent)
    : QObject(parent)
{
    if (!systemBus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
            SLOT(preparingForSleep(bool))))
        qCInfo(lcSleep, "Not following logind's sleep: %s", qUtf8Printable(systemBus.lastError().message()));
}

void SleepWatcher::preparingForSleep(bool starting)
{
    qCInfo(lcSleep, starting ? "The machine is going to sleep" : "The machine has resumed");
    if (starting)
        Q_EMIT goingToSleep();
    else
        Q_EMIT resumed();
}
