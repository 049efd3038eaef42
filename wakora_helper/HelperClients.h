#pragma once

#include <QSet>
#include <QString>

#include <optional>

// Who the helper serves and who owns the lid-closed mode, by the callers'
// unique bus names. It decides when the setting must be given back: when
// its owner leaves the bus, or the last client does. A name is never
// reused on a bus, so it is a safe identity for one caller's connection.
class HelperClients
{
public:
    // An admitted caller becomes a client at its first request.
    void admit(const QString &name) { m_clients.insert(name); }
    // The caller whose enable request left the mode owned.
    void takeOwnership(const QString &name) { m_owner = name; }

    // A name left the bus: answers whether the setting must be restored.
    // Names that never were clients (refused callers) change nothing.
    bool leave(const QString &name)
    {
        if (!m_clients.remove(name))
            return false;
        if (!m_clients.isEmpty() && m_owner != name)
            return false;
        m_owner.reset();
        return true;
    }

    bool isClient(const QString &name) const { return m_clients.contains(name); }
    qsizetype count() const { return m_clients.size(); }
    const std::optional<QString> &owner() const { return m_owner; }

private:
    QSet<QString> m_clients;
    std::optional<QString> m_owner;
};
