#include "InhibitorPowerControl.h"

#include "FreedesktopInhibitBackend.h"
#include "GnomeSessionInhibitBackend.h"
#include "InhibitServices.h"
#include "LogindInhibitBackend.h"
#include "PortalInhibitBackend.h"
#include "PowerControlLogging.h"
#include "PowerDevilInhibitBackend.h"

#include <QCoroTimer>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>

#include <cerrno>

Q_LOGGING_CATEGORY(lcPowerControl, "com.quorvel.WakoraApp.PowerControl")

InhibitorPowerControl::InhibitorPowerControl(QDBusConnection systemBus, QDBusConnection sessionBus, Options options)
    : InhibitorPowerControl(defaultChain(systemBus, sessionBus, options))
{
    followSleep(std::move(systemBus));
}

InhibitorPowerControl::InhibitorPowerControl(QDBusConnection systemBus, QDBusConnection sessionBus)
    : InhibitorPowerControl(std::move(systemBus), std::move(sessionBus), Options{})
{ }

InhibitorPowerControl::InhibitorPowerControl(std::vector<std::unique_ptr<InhibitBackend>> chain)
    : m_chain(std::move(chain))
{
    // Every name that can take or hold a kind, followed for good: the
    // services arrive, leave and restart while the agent runs.
    std::vector<std::pair<QDBusConnection, QStringList>> names;
    for (const auto &backend : m_chain) {
        const QDBusConnection bus = backend->bus();
        auto group = std::find_if(
            names.begin(), names.end(), [&bus](const auto &entry) { return entry.first.name() == bus.name(); });
        if (group == names.end())
            group = names.insert(names.end(), { bus, {} });
        for (const AssertionKind kind : allAssertionKinds) {
            for (const auto &name : { backend->serviceName(kind), backend->holderName(kind) }) {
                if (name && !group->second.contains(*name))
                    group->second.append(*name);
            }
        }
    }
    for (auto &[bus, watched] : names) {
        auto watcher = std::make_unique<QDBusServiceWatcher>();
        watcher->setConnection(bus);
        watcher->setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
        watcher->setWatchedServices(watched);
        connect(watcher.get(), &QDBusServiceWatcher::serviceOwnerChanged, this, &InhibitorPowerControl::ownerChanged);
        m_watchers.push_back(std::move(watcher));
    }
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

void InhibitorPowerControl::followSleep(QDBusConnection systemBus)
{
    systemBus.connect(InhibitServices::logindService, InhibitServices::logindPath, InhibitServices::logindInterface,
        QStringLiteral("PrepareForSleep"), this, SLOT(preparingForSleep(bool)));
}

QString InhibitorPowerControl::backendOf(quint32 id) const
{
    const auto held = m_held.find(id);
    return held != m_held.end() && held->second.backend && held->second.inhibitor ? held->second.backend->name()
                                                                                  : QString();
}

size_t InhibitorPowerControl::indexOf(const InhibitBackend *backend) const
{
    const auto found = std::find_if(
        m_chain.cbegin(), m_chain.cend(), [backend](const auto &entry) { return entry.get() == backend; });
    return size_t(found - m_chain.cbegin());
}

QCoro::Task<Expected<InhibitorPowerControl::Taken, qint32>> InhibitorPowerControl::take(
    AssertionKind kind, size_t from, size_t to)
{
    QPointer<InhibitorPowerControl> self(this);
    qint32 failure = -ENOENT; // nothing answered at all
    for (size_t index = from; index < std::min(to, m_chain.size()); ++index) {
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
    co_return Unexpected(failure);
}

void InhibitorPowerControl::hold(quint32 id, Taken taken)
{
    Held &held = m_held.at(id);
    held.phase = Phase::held;
    held.inhibitor = std::move(taken.inhibitor);
    held.backend = taken.backend;
    held.busy = false;
    held.generation = ++m_generations;
    verify(id, held.generation, held.backend->settleTime());
}

void InhibitorPowerControl::wait(quint32 id)
{
    Held &held = m_held.at(id);
    held.phase = Phase::waiting;
    held.inhibitor.reset();
    held.backend = nullptr;
    held.busy = false;
    held.generation = ++m_generations;
    qCWarning(lcPowerControl, "No service holds inhibit %u (%s); it is taken again as soon as one appears", id,
        qUtf8Printable(assertionType(held.kind)));
    reportHeld(id, false);
}

QCoro::Task<Expected<quint32, PowerError>> InhibitorPowerControl::createAssertion(AssertionKind kind)
{
    if (m_nextID == 0) // every identifier has been handed out once
        co_return Unexpected(PowerError::assertionCreateFailed(-ENOSPC));
    QPointer<InhibitorPowerControl> self(this);
    auto taken = co_await take(kind, 0, m_chain.size());
    if (!self)
        co_return Unexpected(PowerError::assertionCreateFailed(-ECANCELED));
    if (!taken) {
        qCWarning(lcPowerControl, "No service takes the %s inhibit", qUtf8Printable(assertionType(kind)));
        co_return Unexpected(PowerError::assertionCreateFailed(taken.error()));
    }
    const quint32 id = m_nextID++;
    Held entry;
    entry.kind = kind;
    m_held.emplace(id, std::move(entry));
    hold(id, std::move(taken).value());
    co_return id;
}

QCoro::Task<Expected<void, PowerError>> InhibitorPowerControl::releaseAssertion(quint32 id)
{
    const auto found = m_held.find(id);
    if (found == m_held.end())
        co_return {}; // not ours, or already given back: nothing is held under it
    if (found->second.phase != Phase::held) {
        // Being taken again, waiting for a service, or already being
        // released: nothing is held under it now, and whatever is taken for
        // it later is dropped, as its entry is gone.
        m_held.erase(found);
        co_return {};
    }

    // The handle lives in this frame while it answers, whatever happens to
    // the entry meanwhile.
    QPointer<InhibitorPowerControl> self(this);
    std::unique_ptr<Inhibitor> inhibitor = std::move(found->second.inhibitor);
    found->second.phase = Phase::releasing;
    const auto released = co_await inhibitor->release();
    if (!self)
        co_return Unexpected(PowerError::assertionReleaseFailed(-ECANCELED));
    const auto entry = m_held.find(id);
    if (!released) {
        // Kept under the same identifier, so the next release tries the same inhibit.
        if (entry != m_held.end() && entry->second.phase == Phase::releasing) {
            entry->second.phase = Phase::held;
            entry->second.inhibitor = std::move(inhibitor);
        }
        co_return Unexpected(PowerError::assertionReleaseFailed(released.error()));
    }
    if (entry != m_held.end())
        m_held.erase(entry);
    co_return {};
}

void InhibitorPowerControl::ownerChanged(const QString &name, const QString &oldOwner, const QString &newOwner)
{
    std::vector<quint32> left;
    std::vector<quint32> better;
    for (const auto &[id, held] : m_held) {
        if (held.phase == Phase::held && !oldOwner.isEmpty() && held.backend->holderName(held.kind) == name) {
            left.push_back(id);
            continue;
        }
        if (newOwner.isEmpty() || held.busy)
            continue;
        if (held.phase == Phase::waiting) {
            better.push_back(id);
        } else if (held.phase == Phase::held) {
            const size_t current = indexOf(held.backend);
            for (size_t index = 0; index < current; ++index) {
                if (m_chain[index]->serviceName(held.kind) == name) {
                    better.push_back(id);
                    break;
                }
            }
        }
    }
    for (const quint32 id : left) {
        qCWarning(
            lcPowerControl, "%s left the bus while holding inhibit %u; taking it again", qUtf8Printable(name), id);
        retake(id);
    }
    for (const quint32 id : better) {
        qCInfo(lcPowerControl, "%s appeared; offering it inhibit %u", qUtf8Printable(name), id);
        improve(id);
    }
}

void InhibitorPowerControl::preparingForSleep(bool starting)
{
    if (!starting) {
        qCInfo(lcPowerControl, "Resumed from sleep; checking every inhibit");
        recheck();
    }
}

void InhibitorPowerControl::recheck()
{
    std::vector<std::pair<quint32, quint64>> held;
    std::vector<quint32> waiting;
    for (const auto &[id, entry] : m_held) {
        if (entry.phase == Phase::held)
            held.emplace_back(id, entry.generation);
        else if (entry.phase == Phase::waiting)
            waiting.push_back(id);
    }
    for (const auto &[id, generation] : held)
        verify(id, generation, std::chrono::milliseconds(0));
    for (const quint32 id : waiting)
        improve(id);
}

QCoro::Task<> InhibitorPowerControl::retake(quint32 id)
{
    Held &held = m_held.at(id);
    held.inhibitor->forget(); // its service took it along: nothing to give back
    held.inhibitor.reset();
    held.phase = Phase::retaking;
    held.backend = nullptr;
    const AssertionKind kind = held.kind;

    QPointer<InhibitorPowerControl> self(this);
    auto taken = co_await take(kind, 0, m_chain.size());
    if (!self)
        co_return;
    const auto entry = m_held.find(id);
    if (entry == m_held.end() || entry->second.phase != Phase::retaking)
        co_return; // released, or held again meanwhile: what was taken is given back as it goes
    if (taken) {
        const QString backend = taken.value().backend->name();
        hold(id, std::move(taken).value());
        Q_EMIT retaken(id, backend);
        co_return;
    }
    wait(id);
}

QCoro::Task<> InhibitorPowerControl::improve(quint32 id, int attempt)
{
    Held &held = m_held.at(id);
    if (held.busy || (held.phase != Phase::held && held.phase != Phase::waiting))
        co_return;
    const size_t better = held.phase == Phase::waiting ? m_chain.size() : indexOf(held.backend);
    if (better == 0)
        co_return;
    held.busy = true;
    const AssertionKind kind = held.kind;

    QPointer<InhibitorPowerControl> self(this);
    auto taken = co_await take(kind, 0, better);
    if (!self)
        co_return;
    const auto entry = m_held.find(id);
    if (entry == m_held.end())
        co_return;
    entry->second.busy = false;
    if (taken) {
        co_await settle(id, std::move(taken).value());
        co_return;
    }
    // A service owns its name a moment before it serves: ask again a little
    // later, a few times.
    if (attempt >= 3)
        co_return;
    co_await QCoro::sleepFor(std::chrono::milliseconds(500) * (attempt + 1));
    if (self && m_held.contains(id))
        co_await improve(id, attempt + 1);
}

QCoro::Task<> InhibitorPowerControl::verify(quint32 id, quint64 generation, std::chrono::milliseconds delay)
{
    QPointer<InhibitorPowerControl> self(this);
    if (delay.count() > 0) {
        co_await QCoro::sleepFor(delay);
        if (!self)
            co_return;
    }
    const auto current = [this, id, generation]() -> Held * {
        const auto entry = m_held.find(id);
        return entry != m_held.end() && entry->second.generation == generation && entry->second.phase == Phase::held
            ? &entry->second
            : nullptr;
    };
    Held *held = current();
    if (!held || held->busy)
        co_return;
    held->busy = true;
    InhibitBackend *backend = held->backend;
    const AssertionKind kind = held->kind;
    const auto listed = co_await backend->isListed(kind);
    if (!self)
        co_return;
    held = current();
    if (!held)
        co_return; // released, moved or taken again meanwhile
    if (listed.value_or(true)) {
        held->busy = false;
        co_return;
    }

    qCWarning(lcPowerControl, "%s granted inhibit %u (%s) but does not list it; taking it from the next service",
        qUtf8Printable(backend->name()), id, qUtf8Printable(assertionType(kind)));
    auto taken = co_await take(kind, indexOf(backend) + 1, m_chain.size());
    if (!self)
        co_return;
    held = current();
    if (!held)
        co_return;
    held->busy = false;
    if (taken) {
        co_await settle(id, std::move(taken).value());
        co_return;
    }
    // Nothing else takes it: what the service claims to hold is not relied on.
    std::unique_ptr<Inhibitor> unlisted = std::move(held->inhibitor);
    wait(id);
    (void)co_await unlisted->release();
}

QCoro::Task<> InhibitorPowerControl::settle(quint32 id, Taken taken)
{
    const auto entry = m_held.find(id);
    if (entry == m_held.end() || entry->second.phase == Phase::releasing)
        co_return; // no longer wanted: dropping it gives it back
    Held &held = entry->second;
    const QString backend = taken.backend->name();
    const bool wasWaiting = held.phase == Phase::waiting;
    // Taken first, given back second: the kind is never unheld in between.
    std::unique_ptr<Inhibitor> previous = std::move(held.inhibitor);
    hold(id, std::move(taken));
    Q_EMIT retaken(id, backend);
    if (wasWaiting)
        reportHeld(id, true);
    if (!previous)
        co_return;
    QPointer<InhibitorPowerControl> self(this);
    const auto released = co_await previous->release();
    if (!released && self)
        qCWarning(lcPowerControl,
            "The inhibit %u left behind could not be given back (%d); it ends with our connection", id,
            released.error());
}
