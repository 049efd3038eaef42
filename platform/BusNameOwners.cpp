#include "BusNameOwners.h"

#include "DBusCalls.h"

BusNameOwners::BusNameOwners(QDBusConnection bus)
    : m_bus(bus)
    , m_watcher(QString(), std::move(bus), QDBusServiceWatcher::WatchForOwnerChange)
{
    connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &BusNameOwners::changed);
}

std::optional<bool> BusNameOwners::known(const QString &name) const
{
    const auto found = m_names.constFind(name);
    return found == m_names.cend() ? std::nullopt : found->owned;
}

void BusNameOwners::follow(const QString &name)
{
    if (m_names.contains(name))
        return;
    m_names.insert(name, Entry{});
    m_watcher.addWatchedService(name);
}

QCoro::Task<bool> BusNameOwners::hasOwner(
    std::shared_ptr<BusNameOwners> owners, QString name, std::chrono::milliseconds timeout)
{
    if (const auto owned = owners->known(name))
        co_return *owned;
    co_return co_await askOwner(std::move(owners), std::move(name), timeout);
}

QCoro::Task<bool> BusNameOwners::askOwner(
    std::shared_ptr<BusNameOwners> owners, QString name, std::chrono::milliseconds timeout)
{
    // Followed before the bus is asked: the match rule goes out ahead of the
    // question on the same connection, so no change after the answer is missed.
    owners->follow(name);
    const quint64 changesBefore = owners->m_names.value(name).changes;
    const std::optional<bool> owned = co_await DBusCalls::nameHasOwner(owners->m_bus, name, timeout);
    if (!owned)
        co_return false;
    Entry &entry = owners->m_names[name];
    // A change heard meanwhile is newer than this answer and already kept.
    if (entry.changes == changesBefore)
        entry.owned = *owned;
    co_return entry.owned.value_or(*owned);
}

void BusNameOwners::changed(const QString &name, const QString &, const QString &newOwner)
{
    Entry &entry = m_names[name];
    entry.owned = !newOwner.isEmpty();
    ++entry.changes;
    Q_EMIT ownerChanged(name);
}
