#pragma once

#include "Expected.h"

#include <QCoroTask>
#include <QDBusConnection>

#include <chrono>

// Asks polkit whether the process behind a bus name may perform an action.
// The subject is the bus name, not a pid, so a recycled pid cannot stand in
// for the caller; no interaction is allowed, so polkit answers from its
// rules (for our action: yes for an active local session).
class PolkitAuthorization
{
public:
    PolkitAuthorization(QDBusConnection bus, QString actionId, std::chrono::milliseconds timeout);

    // Succeeds only when polkit says yes; otherwise why not.
    QCoro::Task<Expected<void, QString>> check(QString busName) const;

    static QString helperAction() { return QStringLiteral("com.quorvel.WakoraApp.helper.lid-closed"); }

private:
    QDBusConnection m_bus;
    QString m_actionId;
    std::chrono::milliseconds m_timeout;
};
