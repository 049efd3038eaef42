#pragma once

#include "LogindInhibitor.h"

// The logind locks a desktop takes for itself rather than for an
// application, recognised by the texts each desktop writes:
// - gnome-session's one lock standing for all the inhibitors in its own list
//   ("user session inhibited"; who is the user's name), which are listed
//   from there under their applications;
// - the locks by which gnome-settings-daemon, PowerDevil and
//   xfce4-power-manager take the power keys and the lid over from logind
//   ("GNOME handling keypresses", "External monitor attached or
//   configuration changed recently", "KDE handles power events",
//   "xfce4-power-manager handles these events").
// Such a lock names the desktop, not an application, and would otherwise be
// counted twice or shown as a process named after the user.
class DesktopProxyLocks
{
public:
    DesktopProxyLocks() = delete;

    static bool isProxyLock(const LogindInhibitor &lock);
};
