#pragma once

#include <QDBusConnection>
#include <QString>

// `-a disablesleep 1|0`: logind's runtime drop-in that makes the lid switch
// do nothing, written or removed, then taken up by a logind reload. Answers
// the exit status; every failure is printed on standard error.
namespace LidSwitchDropIn {

int write(QDBusConnection &systemBus, const QString &configDir, bool disabled);

} // namespace LidSwitchDropIn
