#include "UsageSampling.h"

#include "UsageStore.h"

#include <QSet>

namespace UsageSampling {

QStringList appNames(const QList<ProcessAssertion> &assertions, qint32 ownPID, const AppNameLookup &appName)
{
    QSet<qint32> seen;
    QStringList names;
    for (const ProcessAssertion &assertion : assertions) {
        if (assertion.pid == ownPID || seen.contains(assertion.pid))
            continue;
        seen.insert(assertion.pid);
        if (auto name = appName(assertion.pid))
            names.append(std::move(*name));
    }
    return names;
}

void powerChanged(const std::optional<QDateTime> &activeSince, const QDateTime &now, UsageStore &store)
{
    if (activeSince)
        store.sessionStarted(*activeSince);
    else
        store.sessionEnded(now);
}

} // namespace UsageSampling
