#pragma once

#include <QHash>
#include <QString>

#include <optional>
#include <sys/types.h>

// Who the helper serves and who owns the lid-closed mode, by the callers'
// unique bus names and the users the bus says they run as. It decides when
// the setting must be given back (when its owner leaves the bus, or the last
// client does) and whose requests may change it: the mode is the owning
// user's while the owner's connection lasts. A name is never reused on a
// bus, so it is a safe identity for one caller's connection.
class HelperClients
{
public:
    struct Owner {
        QString name;
        uid_t uid = 0;
        bool operator==(const Owner &) const = default;
    };

    // An admitted caller becomes a client at its first request.
    void admit(const QString &name, uid_t uid) { m_clients.insert(name, uid); }
    // The caller whose enable request left the mode owned. Another user's
    // enable never moves it; a later enable of the owner's own user does
    // (the agent that replaces the owner on an upgrade takes the mode over
    // before the owner leaves, and the owner's leaving then gives nothing back).
    void takeOwnership(const QString &name)
    {
        const auto client = m_clients.constFind(name);
        if (client == m_clients.cend() || (m_owned && m_owner.uid != client.value()))
            return;
        m_owner = Owner{ name, client.value() };
        m_owned = true;
    }

    // Whether the mode belongs to someone other than this user: then the
    // user may neither change it nor call it theirs.
    bool ownedByAnotherUser(uid_t uid) const { return m_owned && m_owner.uid != uid; }

    // A name left the bus: answers whether the setting must be restored.
    // Names that never were clients (refused callers) change nothing.
    bool leave(const QString &name)
    {
        if (!m_clients.remove(name))
            return false;
        if (!m_clients.isEmpty() && (!m_owned || m_owner.name != name))
            return false;
        release();
        return true;
    }

    // The setting was given back (by its owner's user, or at their leaving).
    void release()
    {
        m_owned = false;
        m_owner = {};
    }

    bool isClient(const QString &name) const { return m_clients.contains(name); }
    qsizetype count() const { return m_clients.size(); }
    std::optional<Owner> owner() const { return m_owned ? std::optional(m_owner) : std::nullopt; }

private:
    QHash<QString, uid_t> m_clients;
    // Not an optional: GCC 12 misreads its engaged member as uninitialised.
    Owner m_owner;
    bool m_owned = false;
};
