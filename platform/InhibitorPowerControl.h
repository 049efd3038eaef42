#pragma once

#include "Inhibitor.h"
#include "PowerControlling.h"

#include <QDBusConnection>
#include <QMap>

#include <chrono>
#include <map>
#include <memory>
#include <optional>

// The production PowerControlling: holds the desktop's sleep and idle
// inhibitors. Each kind uses the first service that answers, looked for
// once: the desktop portal, then the session's own service
// (org.freedesktop.PowerManagement for system sleep, org.freedesktop.ScreenSaver
// for the display), then logind. An identifier is our own counter, mapped to
// the handle that holds the inhibit.
//
// Calls are synchronous, as the role demands, and bounded by `timeout`; the
// control is used from one thread (the controller's). Destroying it gives
// back whatever it still holds.
class InhibitorPowerControl final : public PowerControlling
{
public:
    enum class Backend {
        portal,
        powerManagement,
        screenSaver,
        logind,
    };

    static constexpr std::chrono::milliseconds defaultTimeout{ 5000 };

    InhibitorPowerControl(
        QDBusConnection systemBus, QDBusConnection sessionBus, std::chrono::milliseconds timeout = defaultTimeout);

    Expected<quint32, PowerError> createAssertion(AssertionKind kind) override;
    Expected<void, PowerError> releaseAssertion(quint32 id) override;

    // The service the kind's inhibits go to; looks for one when none was
    // found yet. Absent when nothing that can inhibit is reachable.
    std::optional<Backend> backend(AssertionKind kind);
    static QString backendName(Backend backend);

private:
    bool isReachable(Backend backend);
    void forget(Backend backend);
    Expected<std::unique_ptr<Inhibitor>, qint32> inhibit(Backend backend, AssertionKind kind);

    QDBusConnection m_systemBus;
    QDBusConnection m_sessionBus;
    std::chrono::milliseconds m_timeout;
    // Only successful finds are kept: a desktop service that was not up yet
    // is looked for again on the next creation, and one that has left the
    // bus is forgotten when a creation finds it gone.
    QMap<AssertionKind, Backend> m_backends;
    QMap<Backend, bool> m_reachable;
    quint32 m_nextID = 1;
    std::map<quint32, std::unique_ptr<Inhibitor>> m_held;
};
