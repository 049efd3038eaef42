#pragma once

#include "PowerStatusReading.h"

#include <QDBusConnection>

// The production PowerStatusReading. The assertions are logind's inhibitor
// list (ListInhibitors on the system bus it is given); the settings are what
// `wakora-pmset -g` prints. Neither blocks the calling thread: both are
// awaited, and concurrent calls share nothing.
class SystemPowerStatus final : public PowerStatusReading
{
public:
    struct Inhibitor {
        QString what;
        QString who;
        QString why;
        QString mode;
        quint32 uid = 0;
        quint32 pid = 0;
    };

    explicit SystemPowerStatus(QDBusConnection systemBus, QString pmsetPath = defaultPmsetPath());

    QCoro::Task<Expected<QList<ProcessAssertion>, PowerStatusError>> assertions() override;
    QCoro::Task<Expected<QList<PowerSetting>, PowerStatusError>> settings() override;

    // One assertion per inhibitor, ordered by pid, then type, then reason
    // (stable, so equal entries keep logind's order).
    static QList<ProcessAssertion> assertionsFrom(const QList<Inhibitor> &inhibitors);

    // The wakora-pmset of the running program's prefix.
    static QString defaultPmsetPath();

private:
    QDBusConnection m_systemBus;
    QString m_pmsetPath;
};
