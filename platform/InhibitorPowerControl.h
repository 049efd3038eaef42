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
// The bus name of the service holding each inhibit is watched: when its
// owner leaves or changes (the service restarted), the inhibit is taken
// again, under the same identifier, from the best service that answers; if
// none does, the identifier is reported lost. Main thread only; destroying
// the control gives back whatever it still holds.
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
    InhibitorPowerControl(std::vector<std::unique_ptr<InhibitBackend>> chain, QDBusConnection watchedBus);
    ~InhibitorPowerControl() override;

    QCoro::Task<Expected<quint32, PowerError>> createAssertion(AssertionKind kind) override;
    QCoro::Task<Expected<void, PowerError>> releaseAssertion(quint32 id) override;

    // The name of the backend holding the identifier's inhibit; empty when
    // it holds none.
    QString backendOf(quint32 id) const;

    // The default chain for this program, best first.
    static std::vector<std::unique_ptr<InhibitBackend>> defaultChain(
        QDBusConnection systemBus, QDBusConnection sessionBus, const Options &options);

    // Inside a Flatpak or Snap sandbox, where only the portal reaches the desktop.
    static bool isSandboxed();

Q_SIGNALS:
    // An inhibit was taken again after its service went away.
    void retaken(quint32 id, const QString &backend);

private:
    struct Taken {
        std::unique_ptr<Inhibitor> inhibitor;
        InhibitBackend *backend = nullptr;
    };
    struct Held {
        AssertionKind kind;
        std::unique_ptr<Inhibitor> inhibitor; // null while released or taken again
        InhibitBackend *backend = nullptr;
        bool retaking = false;
    };

    QCoro::Task<Expected<Taken, qint32>> take(AssertionKind kind);
    void hold(quint32 id, Taken taken);
    void holderChanged(const QString &name, const QString &oldOwner, const QString &newOwner);
    QCoro::Task<> retake(quint32 id);
    void unwatchUnused();

    std::vector<std::unique_ptr<InhibitBackend>> m_chain;
    QDBusServiceWatcher m_watcher;
    quint32 m_nextID = 1;
    std::map<quint32, Held> m_held;
};
