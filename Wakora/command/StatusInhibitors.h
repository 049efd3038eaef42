#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QJsonValue>
#include <QStringList>

// Who keeps the machine awake, for `wakora status`: read here, as the
// window does, since who else holds the machine is not the agent's to tell.
class StatusInhibitors
{
public:
    // The lines of the plain report: one per application as the window
    // names it, each followed by what each of its holds keeps off and why,
    // then the system processes; or one line saying the list could not be
    // read.
    QStringList lines;
    // The JSON report's "inhibitors": an array of InhibitorEntry objects,
    // or null when the list could not be read.
    QJsonValue json;

    static QCoro::Task<StatusInhibitors> read(QDBusConnection systemBus, QDBusConnection sessionBus, qint32 agentPID);
};
