#pragma once

#include "ProcessAssertion.h"

#include <QDateTime>
#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

class UsageStore;

// The two steps of recording usage that do not depend on where the facts
// come from.
namespace UsageSampling {

using AppNameLookup = std::function<std::optional<QString>(qint32 pid)>;

// The names of the applications behind the assertions: each distinct pid
// once, never ownPID, and only pids the lookup names. Order unspecified.
QStringList appNames(const QList<ProcessAssertion> &assertions, qint32 ownPID, const AppNameLookup &appName);

// Opens a session at activeSince when keep-awake is on (activeSince present),
// closes it at `now` when off: both are the change's own time when heard as
// the change happens.
void powerChanged(const std::optional<QDateTime> &activeSince, const QDateTime &now, UsageStore &store);

} // namespace UsageSampling
