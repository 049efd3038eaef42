#include "InhibitorPowerControl.h"

#include "FreedesktopInhibitBackend.h"
#include "GnomeSessionInhibitBackend.h"
#include "LogindInhibitBackend.h"
#include "PortalInhibitBackend.h"
#include "PowerControlLogging.h"
#include "PowerDevilInhibitBackend.h"

#include <QFileInfo>
#include <QPointer>

#include <cerrno>

Q_LOGGING_CATEGORY(lcPowerControl, "com.quorvel.WakoraApp.PowerControl")

InhibitorPowerControl::InhibitorPowerControl(QDBusConnection systemBus, QDBusConnection sessionBus, Options options)
    : InhibitorPowerControl(defaultChain(systemBus, sessionBus, options), sessionBus)
{ }

InhibitorPowerControl::InhibitorPowerControl(QDBusConnection systemBus, QDBusConnection sessionBus)
    : InhibitorPowerControl(std::move(systemBus), std::move(sessionBus), Options{})
{ }

InhibitorPowerControl::InhibitorPowerControl(
    std::vector<std::unique_ptr<InhibitBackend>> chain, QDBusConnection watchedBus)
    : m_chain(std::move(chain))
    , m_watcher(QString(), std::move(watchedBus), QDBusServiceWatcher::WatchForOwnerChange)
{
    connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &InhibitorPowerControl::holderChanged);
}

// The handles give back what they hold as they go.
InhibitorPowerControl::~InhibitorPowerControl() = default;

bool InhibitorPowerControl::isSandboxed()
{
    return QFileInfo::exists(QStringLiteral("/.flatpak-info")) || !qEnvironmentVariableIsEmpty("SNAP");
}

std::vector<std::unique_ptr<InhibitBackend>> InhibitorPowerControl::defaultChain(
    QDBusConnection systemBus, QDBusConnection sessionBus, const Options &options)
{
    std::vector<std::unique_ptr<InhibitBackend>> chain;
    // One follower of names per bus, shared by the services on it.
    auto sessionOwners = std::make_shared<BusNameOwners>(sessionBus);
    auto portal = std::make_unique<PortalInhibitBackend>(
        sessionBus, sessionOwners, options.timeout, options.portalResponseTimeout);
    if (options.sandboxed)
        chain.push_back(std::move(portal));
    chain.push_back(std::make_unique<GnomeSessionInhibitBackend>(sessionBus, sessionOwners, options.timeout));
    chain.push_back(std::make_unique<FreedesktopInhibitBackend>(sessionBus, sessionOwners, options.timeout));
    chain.push_back(std::make_unique<PowerDevilInhibitBackend>(sessionBus, sessionOwners, options.timeout));
    if (portal)
        chain.push_back(std::move(portal));
    chain.push_back(
        std::make_unique<LogindInhibitBackend>(systemBus, std::make_shared<BusNameOwners>(systemBus), options.timeout));
    return chain;
}

QString InhibitorPowerControl::backendOf(quint32 id) const
{
    const auto held = m_held.find(id);
    return held != m_held.end() && held->second.backend && held->second.inhibitor ? held->second.backend->name()
                                                                                  : QString();
}

QCoro::Task<Expected<InhibitorPowerControl::Taken, qint32>> InhibitorPowerControl::take(AssertionKind kind)
{
    QPointer<InhibitorPowerControl> self(this);
    qint32 failure = -ENOENT; // nothing answered at all
    for (size_t index = 0; index < m_chain.size(); ++index) {
        InhibitBackend *backend = m_chain[index].get();
        const bool answering = co_await backend->isAnswering(kind);
        if (!self)
            co_return Unexpected(qint32(-ECANCELED));
        if (!answering)
            continue;
        auto inhibitor = co_await backend->inhibit(kind);
        if (!self)
            co_return Unexpected(qint32(-ECANCELED));
        if (inhibitor) {
            qCInfo(lcPowerControl, "%s inhibit held by %s", qUtf8Printable(assertionType(kind)),
                qUtf8Printable(backend->name()));
            co_return Taken{ std::move(inhibitor).value(), backend };
        }
        // A service that answers but refuses (a portal whose desktop
        // backend cannot inhibit) leaves the next one to try.
        failure = inhibitor.error();
        qCInfo(lcPowerControl, "%s refused the %s inhibit (%d); trying the next service",
            qUtf8Printable(backend->name()), qUtf8Printable(assertionType(kind)), failure);
    }
    qCWarning(lcPowerControl, "No service takes the %s inhibit", qUtf8Printable(assertionType(kind)));
    co_return Unexpected(failure);
}

void InhibitorPowerControl::hold(quint32 id, Taken taken)
{
    Held &held = m_held.at(id);
    held.inhibitor = std::move(taken.inhibitor);
    held.backend = taken.backend;
    held.retaking = false;
    if (const auto name = held.backend->holderName(held.kind); name && !m_watcher.watchedServices().contains(*name))
        m_watcher.addWatchedService(*name);
}

QCoro::Task<Expected<quint32, PowerError>> InhibitorPowerControl::createAssertion(AssertionKind kind)
{
    if (m_nextID == 0) // every identifier has been handed out once
        co_return Unexpected(PowerError::assertionCreateFailed(-ENOSPC));
    QPointer<InhibitorPowerControl> self(this);
    auto taken = co_await take(kind);
    if (!self)
        co_return Unexpected(PowerError::assertionCreateFailed(-ECANCELED));
    if (!taken)
        co_return Unexpected(PowerError::assertionCreateFailed(taken.error()));
    const quint32 id = m_nextID++;
    m_held.emplace(id, Held{ kind, nullptr, nullptr, false });
    hold(id, std::move(taken).value());
    co_return id;
}

QCoro::Task<Expected<void, PowerError>> InhibitorPowerControl::releaseAssertion(quint32 id)
{
    const auto found = m_held.find(id);
    if (found == m_held.end())
        co_return {}; // not ours, or already given back: nothing is held under it
    if (!found->second.inhibitor) {
        // Being taken again (its service left) or already being released:
        // nothing is held under it now, and the other side drops what it gets.
        m_held.erase(found);
        unwatchUnused();
        co_return {};
    }

    // The handle lives in this frame while it answers, whatever happens to
    // the entry meanwhile.
    QPointer<InhibitorPowerControl> self(this);
    std::unique_ptr<Inhibitor> inhibitor = std::move(found->second.inhibitor);
    const auto released = co_await inhibitor->release();
    if (!self)
        co_return Unexpected(PowerError::assertionReleaseFailed(-ECANCELED));
    const auto entry = m_held.find(id);
    if (!released) {
        // Kept under the same identifier, so the next release tries the same inhibit.
        if (entry != m_held.end() && !entry->second.inhibitor)
            entry->second.inhibitor = std::move(inhibitor);
        co_return Unexpected(PowerError::assertionReleaseFailed(released.error()));
    }
    if (entry != m_held.end())
        m_held.erase(entry);
    unwatchUnused();
    co_return {};
}

void InhibitorPowerControl::holderChanged(const QString &name, const QString &oldOwner, const QString &)
{
    if (oldOwner.isEmpty())
        return; // it arrived; what we hold is held by someone else or nobody
    std::vector<quint32> affected;
    for (const auto &[id, held] : m_held) {
        if (held.inhibitor && !held.retaking && held.backend && held.backend->holderName(held.kind) == name)
            affected.push_back(id);
    }
    for (const quint32 id : affected) {
        qCWarning(
            lcPowerControl, "%s left the bus while holding inhibit %u; taking it again", qUtf8Printable(name), id);
        retake(id);
    }
}

QCoro::Task<> InhibitorPowerControl::retake(quint32 id)
{
    Held &held = m_held.at(id);
    held.inhibitor->forget(); // its service took it along: nothing to give back
    held.inhibitor.reset();
    held.retaking = true;
    const AssertionKind kind = held.kind;

    QPointer<InhibitorPowerControl> self(this);
    auto taken = co_await take(kind);
    if (!self)
        co_return;
    const auto entry = m_held.find(id);
    if (entry == m_held.end())
        co_return; // released meanwhile: what was taken is given back as it goes
    if (taken) {
        const QString backend = taken.value().backend->name();
        hold(id, std::move(taken).value());
        Q_EMIT retaken(id, backend);
        co_return;
    }
    qCWarning(lcPowerControl, "Inhibit %u (%s) is gone and no service takes it again", id,
        qUtf8Printable(assertionType(kind)));
    m_held.erase(entry);
    unwatchUnused();
    reportLost(id);
}

void InhibitorPowerControl::unwatchUnused()
{
    const QStringList watched = m_watcher.watchedServices();
    for (const QString &name : watched) {
        const bool used = std::any_of(m_held.cbegin(), m_held.cend(), [&name](const auto &entry) {
            return entry.second.backend && entry.second.backend->holderName(entry.second.kind) == name;
        });
        if (!used)
            m_watcher.removeWatchedService(name);
    }
}
