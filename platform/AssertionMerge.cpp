#include "AssertionMerge.h"

#include "AssertionKind.h"
#include "DesktopProxyLocks.h"
#include "InhibitorRegistries.h"
#include "RunningApplicationReading.h"

#include <QMap>
#include <QSet>
#include <QStringList>

#include <algorithm>

namespace {

// PowerDevil lists every block lock of logind that covers sleep or idle as
// an inhibition of its own, under logind's who and why.
const LogindInhibitor *logindOriginal(const DesktopInhibitor &entry, const QList<LogindInhibitor> &logind)
{
    if (entry.registry != DesktopInhibitor::Registry::kde)
        return nullptr;
    const auto found = std::find_if(logind.cbegin(), logind.cend(), [&entry](const LogindInhibitor &lock) {
        if (lock.mode != u"block" || lock.who != entry.application || lock.why != entry.reason)
            return false;
        const QStringList items = lock.what.split(u':');
        return items.contains(QStringLiteral("sleep")) || items.contains(QStringLiteral("idle"));
    });
    return found != logind.cend() ? &*found : nullptr;
}

bool copiedFromLogind(const DesktopInhibitor &entry, const QList<LogindInhibitor> &logind)
{
    return logindOriginal(entry, logind) != nullptr;
}

QStringList blockedItems(const QString &type)
{
    QStringList items;
    for (const QString &item : type.split(u':', Qt::SkipEmptyParts))
        if ((item == u"sleep" || item == u"idle") && !items.contains(item))
            items.append(item);
    return items;
}

// What our own PowerDevil inhibition holds off, told by the reason we gave:
// system sleep went through its freedesktop service (suspending), the
// display through its screen policy, which holds off suspending too.
QString wakoraKdeType(const DesktopInhibitor &entry)
{
    if (entry.reason == assertionName(AssertionKind::systemSleep))
        return QStringLiteral("sleep");
    if (entry.reason == assertionName(AssertionKind::displaySleep))
        return QStringLiteral("sleep:idle");
    return QString();
}

// PowerDevil's entries come with what is in effect (its list carries no
// policy). Each of them holds off suspending; whether it holds the screen
// too is known for ours and for its copies of logind's locks. Any other
// holds the screen when the screen policy is in effect and none of those
// accounts for it; otherwise it cannot be told, and it counts as holding
// off suspending only.
QStringList kdeTypes(const QList<DesktopInhibitor> &desktop, const QList<LogindInhibitor> &logind)
{
    QStringList types;
    bool screenAccounted = false;
    for (const DesktopInhibitor &entry : desktop) {
        QString type = entry.type;
        if (entry.registry == DesktopInhibitor::Registry::kde) {
            const LogindInhibitor *original = logindOriginal(entry, logind);
            if (AssertionMerge::isWakora(entry.application))
                type = wakoraKdeType(entry);
            else if (original)
                type = DesktopInhibitor::typeOf(true, blockedItems(original->what).contains(QStringLiteral("idle")));
            else
                type.clear();
            // Only what is known accounts for the screen; the rest is decided below.
            screenAccounted = screenAccounted || blockedItems(type).contains(QStringLiteral("idle"));
        }
        types.append(type);
    }
    for (qsizetype index = 0; index < desktop.size(); ++index) {
        const DesktopInhibitor &entry = desktop.at(index);
        if (entry.registry != DesktopInhibitor::Registry::kde || !types.at(index).isEmpty())
            continue;
        const QStringList inEffect = blockedItems(entry.type);
        types[index] = inEffect.isEmpty()
            ? QString()
            : DesktopInhibitor::typeOf(true, inEffect.contains(QStringLiteral("idle")) && !screenAccounted);
    }
    return types;
}

ProcessAssertion assertion(qint32 pid, const QString &type, const QString &reason, const QString &name)
{
    ProcessAssertion result;
    result.pid = pid;
    result.type = type;
    result.reason = reason;
    if (!name.isEmpty())
        result.processName = name;
    return result;
}

} // namespace

bool AssertionMerge::isWakora(const QString &application)
{
    return application == InhibitorRegistries::wakoraAppId || application == InhibitorRegistries::wakoraName;
}

QList<ProcessAssertion> AssertionMerge::merge(const Listings &listings)
{
    QList<ProcessAssertion> result;
    for (const LogindInhibitor &lock : listings.logind) {
        if (DesktopProxyLocks::isProxyLock(lock))
            continue;
        // logind keeps pids as unsigned; every real one fits.
        result.append(assertion(qint32(lock.pid), lock.what, lock.why, lock.who));
    }

    struct Placed {
        const DesktopInhibitor *entry;
        QString type;
        std::optional<qint32> pid;
        QString name;
        QString key; // for an entry without a process: whose own pid it gets
    };
    QList<Placed> placed;
    QMap<QString, qint32> ownPids; // ordered by key
    const QStringList types = kdeTypes(listings.desktop, listings.logind);
    for (qsizetype index = 0; index < listings.desktop.size(); ++index) {
        const DesktopInhibitor &entry = listings.desktop.at(index);
        if (copiedFromLogind(entry, listings.logind))
            continue;
        Placed place{ &entry, types.at(index), std::nullopt, entry.application, QString() };
        if (isWakora(entry.application)) {
            // Our desktop entry names the window program, not the agent
            // that holds the inhibitors, so only the agent's pid will do.
            place.pid = listings.agentPid;
            place.name = InhibitorRegistries::wakoraName;
        } else if (const auto found = listings.applications.constFind(entry.application);
                   found != listings.applications.cend()) {
            place.pid = found->pid;
            if (!found->name.isEmpty())
                place.name = found->name;
        }
        if (!place.pid) {
            // Entries without any name are told apart by where they were listed.
            place.key = !place.name.isEmpty() ? place.name
                                              : QStringLiteral("\u0001%1:%2").arg(int(entry.registry)).arg(index);
            ownPids.insert(place.key, 0);
        }
        placed.append(place);
    }
    // Counting up to -1, so that by pid they follow the order of the keys.
    qint32 next = -qint32(ownPids.size());
    for (auto own = ownPids.begin(); own != ownPids.end(); ++own)
        own.value() = next++;

    for (const Placed &place : std::as_const(placed)) {
        const qint32 pid = place.pid ? *place.pid : ownPids.value(place.key);
        result.append(assertion(pid, place.type, place.entry->reason, place.name));
    }

    std::stable_sort(result.begin(), result.end(), [](const ProcessAssertion &a, const ProcessAssertion &b) {
        if (a.pid != b.pid)
            return a.pid < b.pid;
        if (a.type != b.type)
            return a.type < b.type;
        return a.reason < b.reason;
    });
    return result;
}

QHash<QString, AssertionMerge::Application> AssertionMerge::resolve(
    const QList<DesktopInhibitor> &desktop, RunningApplicationReading &applications)
{
    QHash<QString, Application> resolved;
    for (const DesktopInhibitor &entry : desktop) {
        if (entry.application.isEmpty() || isWakora(entry.application) || resolved.contains(entry.application))
            continue;
        Application application{ std::nullopt, entry.application };
        if (const auto found = applications.desktopApplication(entry.application)) {
            // Several processes may run it (a browser's helpers, two windows):
            // the lowest pid is, as a rule, the one started first.
            const QList<qint32> pids = applications.processIds(found->id);
            if (!pids.isEmpty())
                application.pid = pids.first();
            if (!found->localizedName.isEmpty())
                application.name = found->localizedName;
        }
        resolved.insert(entry.application, application);
    }
    return resolved;
}
