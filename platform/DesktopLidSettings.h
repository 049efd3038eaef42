#pragma once

#include <QString>

// Desktops whose power daemon runs the lid action itself, ignoring logind's
// HandleLidSwitch: there the lid-closed mode cannot work, and the desktop's
// own power settings are where the user decides what closing the lid does.
// Today that is KDE Plasma (PowerDevil takes logind's handle-lid-switch lock).
class DesktopLidSettings
{
public:
    DesktopLidSettings() = delete;

    // Whether the session's desktop, as XDG_CURRENT_DESKTOP names it, runs the lid itself.
    static bool desktopDecidesLid(const QString &currentDesktop);
    static bool desktopDecidesLid();

    // Opens the desktop's power settings; false when no settings program starts.
    static bool openSettings();
};
