#include "X11ScreenSaverSuspension.h"

#include <QGuiApplication>
#include <QLoggingCategory>

#include <utility>

// Xlib's macros (Bool, Status, None) clash with Qt's names: its headers come last.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

Q_LOGGING_CATEGORY(lcScreenSaver, "com.quorvel.WakoraApp.MenuBar.ScreenSaver")

namespace {

bool canSuspend(Display *display)
{
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    return XScreenSaverQueryExtension(display, &eventBase, &errorBase)
        && XScreenSaverQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 1));
}

} // namespace

X11ScreenSaverSuspension X11ScreenSaverSuspension::forApplication()
{
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return X11ScreenSaverSuspension(x11 ? x11->display() : nullptr);
}

X11ScreenSaverSuspension::X11ScreenSaverSuspension(Display *display)
{
    if (display && canSuspend(display))
        m_display = display;
    else if (display)
        qCInfo(lcScreenSaver, "The X server cannot suspend its screen saver (no MIT-SCREEN-SAVER 1.1)");
}

X11ScreenSaverSuspension::X11ScreenSaverSuspension(X11ScreenSaverSuspension &&other) noexcept
    : m_display(std::exchange(other.m_display, nullptr))
    , m_suspended(std::exchange(other.m_suspended, false))
{ }

X11ScreenSaverSuspension::~X11ScreenSaverSuspension()
{
    setSuspended(false);
}

void X11ScreenSaverSuspension::setSuspended(bool suspended)
{
    if (!m_display || suspended == m_suspended)
        return;
    // The server counts a client's suspensions; ours is one, on or off.
    XScreenSaverSuspend(m_display, suspended ? True : False);
    XFlush(m_display);
    m_suspended = suspended;
    qCInfo(lcScreenSaver, "The X server's screen saver is %s", suspended ? "held off" : "free again");
}
