#pragma once

#include <QDBusConnection>
#include <QString>

// `-a disablesleep 1|0`: logind's runtime drop-in that makes the lid switch
// do nothing, written or removed, then taken up by a logind reload, all
// under the lock at `lockPath`. Answers the exit status; every failure is
// printed on standard error. For 0 the drop-in is gone whatever the status:
// EX_TEMPFAIL (75) says logind has not confirmed that it reread its
// configuration (no bus, or logind did not answer), so ask again later.
namespace LidSwitchDropIn {

int write(QDBusConnection &systemBus, const QString &configDir, const QString &lockPath, bool disabled);

} // namespace LidSwitchDropIn
