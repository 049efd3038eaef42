#pragma once

struct _XDisplay;

// The X server's own screen saver and power saving (DPMS), held off while
// the display kind is held, as video players do (MIT-SCREEN-SAVER's
// Suspend). On a bare X11 session nothing else keeps the server from
// blanking: few window managers follow logind's idle lock. The server ends
// the suspension by itself when our connection to it closes, so a killed
// agent never keeps the screen on.
class X11ScreenSaverSuspension
{
public:
    // The X display the application runs on; inert elsewhere (Wayland,
    // offscreen) and where the server lacks the extension's version 1.1.
    static X11ScreenSaverSuspension forApplication();

    // A display of the caller's, which outlives this object; null for none.
    explicit X11ScreenSaverSuspension(_XDisplay *display);
    X11ScreenSaverSuspension(X11ScreenSaverSuspension &&other) noexcept;
    X11ScreenSaverSuspension &operator=(X11ScreenSaverSuspension &&) = delete;
    ~X11ScreenSaverSuspension();

    bool isAvailable() const { return m_display != nullptr; }
    bool isSuspended() const { return m_suspended; }
    void setSuspended(bool suspended);

private:
    _XDisplay *m_display = nullptr;
    bool m_suspended = false;
};
