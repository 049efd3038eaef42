#pragma once

#include "LogindInhibitor.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QList>
#include <QString>

// Desktops whose power daemon runs the lid action itself, ignoring logind's
// HandleLidSwitch: there the lid-closed mode cannot work, and the desktop's
// own power settings are where the user decides what closing the lid does.
// KDE Plasma (PowerDevil) and xfce4-power-manager (with its default
// logind-handle-lid-switch false) take logind's handle-lid-switch block lock
// and run their own lid action; the lock is how they are found, whatever
// the session's desktop is called.
class DesktopLidSettings
{
public:
    DesktopLidSettings() = delete;

    // Whether the session's desktop, as XDG_CURRENT_DESKTOP names it, runs the lid itself.
    static bool desktopDecidesLid(const QString &currentDesktop);
    static bool desktopDecidesLid();

    // The power manager that runs the lid itself, as logind's list names
    // it ("xfce4-power-manager", "PowerDevil"); empty when none holds the
    // lid. Only the known ones count: gnome-settings-daemon, for one, takes
    // the lock only to keep the lid from suspending with an external display.
    static QString lidHandler(const QList<LogindInhibitor> &inhibitors);
    // The same, from logind's ListInhibitors; empty when logind does not answer.
    static QCoro::Task<QString> readLidHandler(QDBusConnection systemBus);
    // How the window names the handler's settings: "Plasma", "Xfce", else the handler's name.
    static QString settingsName(const QString &lidHandler);

    // Opens the power settings of the handler (Plasma's where none is
    // known); false when no settings program starts.
    static bool openSettings(const QString &lidHandler = QString());
};
