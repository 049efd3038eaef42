#pragma once

#include "PowerStatusReading.h"

#include <QDBusConnection>

#include <memory>

class RunningApplicationReading;

// The production PowerStatusReading. The assertions merge logind's inhibitor
// list (on the system bus) with the lists the desktop keeps on the session
// bus, gnome-session's, KDE's and Xfce's power manager's, whichever of them
// is running (AssertionMerge says how); the settings are what
// `wakora-pmset -g` prints. Neither blocks the calling thread: both are
// awaited, and concurrent calls share nothing.
//
// Only logind decides whether the assertions can be told: when it answers
// with an error, or with a list of another shape, the query fails. When it
// is not there at all (not on the bus, or no system bus), a desktop list
// that answered is the whole truth there is and is returned; without any,
// the query fails as logind's absence.
class SystemPowerStatus final : public PowerStatusReading
{
public:
    SystemPowerStatus(QDBusConnection systemBus, QDBusConnection sessionBus,
        std::shared_ptr<RunningApplicationReading> applications, QString pmsetPath = defaultPmsetPath());

    QCoro::Task<Expected<QList<ProcessAssertion>, PowerStatusError>> assertions() override;
    QCoro::Task<Expected<QList<PowerSetting>, PowerStatusError>> settings() override;

    // The wakora-pmset of the running program's prefix.
    static QString defaultPmsetPath();

private:
    QDBusConnection m_systemBus;
    QDBusConnection m_sessionBus;
    std::shared_ptr<RunningApplicationReading> m_applications;
    QString m_pmsetPath;
};
