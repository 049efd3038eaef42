#pragma once

#include "Trigger.h"

#include <QDBusConnection>
#include <QProcessEnvironment>
#include <QString>

#include <memory>

class KWinFullscreenScript;
class QSocketNotifier;
struct xcb_connection_t;

// While the window in front is fullscreen (a film, a presentation, a game).
// On X11 the window manager says so through its EWMH properties: the root
// window's _NET_ACTIVE_WINDOW, and _NET_WM_STATE_FULLSCREEN in that window's
// _NET_WM_STATE. The trigger follows their PropertyNotify events on a
// connection of its own to the X server, whatever display platform the
// agent's Qt runs on; it never polls. Wayland keeps other clients' windows
// to itself: there only a compositor that runs scripts for its clients can
// tell, KWin on Plasma (KWinFullscreenScript); elsewhere on Wayland the
// trigger is unavailable.
class FullscreenTrigger : public Trigger
{
    Q_OBJECT

public:
    // The session's environment decides the display: WAYLAND_DISPLAY and
    // XDG_SESSION_TYPE, else DISPLAY. KWin is asked on `sessionBus`.
    explicit FullscreenTrigger(QDBusConnection sessionBus,
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(), QObject *parent = nullptr);
    ~FullscreenTrigger() override;

    QString name() const override { return QStringLiteral("fullscreen"); }
    qint64 defaultKinds() const override
    {
        return assertionBit(AssertionKind::systemSleep) | assertionBit(AssertionKind::displaySleep);
    }
    std::optional<QString> unavailable() const override;

    void start(const QVariantMap &options) override;
    void stop() override;

    // Whether a connection to the X server is open, or KWin's script is
    // asked for (between start and stop).
    bool isWatching() const { return m_connection != nullptr || m_kwin != nullptr; }

private:
    struct Atoms {
        quint32 activeWindow = 0;
        quint32 state = 0;
        quint32 fullscreen = 0;
        quint32 name = 0;
        quint32 utf8String = 0;
    };
    struct Disconnect {
        void operator()(xcb_connection_t *connection) const;
    };

    bool onWayland() const;
    std::optional<QString> sessionUnavailable() const;
    void startKWin();
    void readEvents();
    void followActiveWindow();
    void checkActiveWindow();
    QString windowTitle() const;

    QDBusConnection m_bus;
    QProcessEnvironment m_environment;
    std::unique_ptr<KWinFullscreenScript> m_kwin;
    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    std::unique_ptr<QSocketNotifier> m_notifier;
    quint32 m_root = 0;
    quint32 m_activeWindow = 0;
    Atoms m_atoms;
    // Why the last start could not reach the X server, or KWin could not run the script.
    std::optional<QString> m_failure;
};
