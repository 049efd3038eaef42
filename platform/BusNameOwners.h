#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

// Whether names have an owner on one bus: asked of the bus once per name,
// then followed through its owner changes, so that taking an inhibit does
// not cost a round trip per service it passes over. Main thread only.
class BusNameOwners final : public QObject
{
    Q_OBJECT

public:
    explicit BusNameOwners(QDBusConnection bus);

    // Resolves at once for a name already followed. A bus that cannot be
    // asked counts as "no", and that answer is not kept.
    static QCoro::Task<bool> hasOwner(
        std::shared_ptr<BusNameOwners> owners, QString name, std::chrono::milliseconds timeout);
    // Asks the bus even for a name already followed, and keeps the answer:
    // a kept "no" may lag behind a service that has just arrived.
    static QCoro::Task<bool> askOwner(
        std::shared_ptr<BusNameOwners> owners, QString name, std::chrono::milliseconds timeout);

    // The answer kept for the name, if any.
    std::optional<bool> known(const QString &name) const;

    // Follows the name's owner changes from now on, without asking the bus.
    void follow(const QString &name);
    // How often the name's owner has changed since it was first followed:
    // an answer about its service stays true while this stays the same.
    quint64 changes(const QString &name) const { return m_names.value(name).changes; }

Q_SIGNALS:
    // The name's owner changed: it arrived, left or was taken over.
    void ownerChanged(const QString &name);

private:
    void changed(const QString &name, const QString &oldOwner, const QString &newOwner);

    QDBusConnection m_bus;
    QDBusServiceWatcher m_watcher;
    struct Entry {
        std::optional<bool> owned;
        quint64 changes = 0; // owner changes heard since the name was first followed
    };
    QHash<QString, Entry> m_names;
};
