#pragma once

#include "DesktopInhibitor.h"
#include "LogindInhibitor.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QList>

#include <optional>

// The calls that read each inhibitor list. Every call is asynchronous and
// bounded by InhibitorRegistries::callTimeoutMs; the connections are taken by
// value, so nothing needs to outlive a wait. A desktop service is never
// started to be asked: one that is not on the bus has no list.
namespace InhibitorLists {

struct LogindAnswer {
    bool answered = false;
    QList<LogindInhibitor> inhibitors;
    QString errorName; // empty when answered, or when the answer had another shape
};

QCoro::Task<LogindAnswer> readLogind(QDBusConnection systemBus);

// Absent when the registry is not on the bus or gives no usable answer.
QCoro::Task<std::optional<QList<DesktopInhibitor>>> readGnomeSession(QDBusConnection sessionBus);
QCoro::Task<std::optional<QList<DesktopInhibitor>>> readKde(QDBusConnection sessionBus);
QCoro::Task<std::optional<QList<DesktopInhibitor>>> readXfce(QDBusConnection sessionBus);

// Whether a desktop's list holds an inhibit of ours (application "Wakora")
// with that reason; any reason when `reason` is empty (Xfce keeps none).
bool listsOurs(const QList<DesktopInhibitor> &inhibitors, const QString &reason = QString());

// The process owning a bus name; absent when nobody owns it.
QCoro::Task<std::optional<qint32>> ownerPid(QDBusConnection bus, QString name);

// Error names that mean the service is simply not there.
bool meansAbsent(const QString &errorName);

} // namespace InhibitorLists
