#pragma once

#include "InhibitBackend.h"
#include "PowerControlling.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

#include <chrono>
#include <map>
#include <memory>
#include <vector>

// The production PowerControlling: holds the desktop's sleep and idle
// inhibitors. Each creation goes to the first service of the chain that
// answers and grants it. For a program outside a sandbox the chain is
// GNOME's session manager, the session's freedesktop power and screen-saver
// services (KDE Plasma, Xfce), the desktop portal, then logind; inside a
// sandbox the portal comes first. An identifier is our own counter, mapped
// to the handle that holds the inhibit.
//
// Every service of the chain is followed on its bus, so that each inhibit
// stays with the best service there is:
// - when the holder leaves or restarts, the inhibit is taken again, under
//   the same identifier, from the best service that answers; if none does,
//   the identifier stays asked for, reported not held, and is taken again
//   as soon as a service of the chain appears;
// - when a better service appears (one earlier in the chain), the inhibit
//   moves to it: taken there first, then given back where it was, so that
//   nothing is ever left unheld in between;
// - after each take (once the service's settle time has passed) and after
//   each resume from sleep, the holder's own list is read where it keeps
//   one; an inhibit it does not list is taken from the next service.
// Main thread only; destroying the control gives back whatever it still holds.
class InhibitorPowerControl final : public QObject, public PowerControlling
{
    Q_OBJECT

public:
    struct Options {
        std::chrono::milliseconds timeout{ 5000 };
        std::chrono::milliseconds portalResponseTimeout{ 5000 };
        bool sandboxed = isSandboxed();
    };

    InhibitorPowerControl(QDBusConnection systemBus, QDBusConnection sessionBus, Options options);
    InhibitorPowerControl(QDBusConnection systemBus, QDBusConnection sessionBus);
    // A chain of one's own, best first; every holder name lives on `watchedBus`.
    explicit InhibitorPowerControl(std::vector<std::unique_ptr<InhibitBackend>> chain);
    ~InhibitorPowerControl() override;

    QCoro::Task<Expected<quint32, PowerError>> createAssertion(AssertionKind kind) override;
    QCoro::Task<Expected<void, PowerError>> releaseAssertion(quint32 id) override;

    // The name of the backend holding the identifier's inhibit; empty when
    // it holds none.
    QString backendOf(quint32 id) const;

    // Checks every inhibit against its holder's list now, and tries again
    // every identifier that no service holds.
    void recheck();

    // Rechecks after each resume (logind's PrepareForSleep(false)).
    void followSleep(QDBusConnection systemBus);

    // The default chain for this program, best first.
    static std::vector<std::unique_ptr<InhibitBackend>> defaultChain(
        QDBusConnection systemBus, QDBusConnection sessionBus, const Options &options);

    // Inside a Flatpak or Snap sandbox, where only the portal reaches the desktop.
    static bool isSandboxed();

Q_SIGNALS:
    // An inhibit was taken again after its service went away, moved to a
    // better one, or found missing from its holder's list.
    void retaken(quint32 id, const QString &backend);

private Q_SLOTS:
    void preparingForSleep(bool starting);

private:
    struct Taken {
        std::unique_ptr<Inhibitor> inhibitor;
        InhibitBackend *backend = nullptr;
    };
    enum class Phase {
        held,
        releasing,
        retaking, // its holder left; being taken again
        waiting, // no service holds it; taken again as soon as one appears
    };
    struct Held {
        AssertionKind kind = AssertionKind::systemSleep;
        Phase phase = Phase::held;
        std::unique_ptr<Inhibitor> inhibitor; // present exactly while held
        InhibitBackend *backend = nullptr;
        bool busy = false; // while held: being checked, or moved to a better service
        quint64 generation = 0; // one per hold, so that a late check of an earlier one is dropped
    };

    // Walks the chain from `from` up to, not including, `to`.
    QCoro::Task<Expected<Taken, qint32>> take(AssertionKind kind, size_t from, size_t to);
    size_t indexOf(const InhibitBackend *backend) const;
    void hold(quint32 id, Taken taken);
    void ownerChanged(const QString &name, const QString &oldOwner, const QString &newOwner);
    QCoro::Task<> retake(quint32 id);
    // Offers the kind to the services better than its holder (to every one
    // while it waits), asking again a little later when they refuse.
    QCoro::Task<> improve(quint32 id, int attempt = 0);
    QCoro::Task<> verify(quint32 id, quint64 generation, std::chrono::milliseconds delay);
    // Holds what a retake, a move or a check took, if the entry still wants it.
    QCoro::Task<> settle(quint32 id, Taken taken);
    void wait(quint32 id);

    std::vector<std::unique_ptr<InhibitBackend>> m_chain;
    // One follower of the chain's names per bus.
    std::vector<std::unique_ptr<QDBusServiceWatcher>> m_watchers;
    quint32 m_nextID = 1;
    quint64 m_generations = 0;
    std::map<quint32, Held> m_held;
};
