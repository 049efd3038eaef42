#pragma once

#include "ClamshellState.h"

#include <QString>

#include <optional>

// What the lid-closed switch, its notice, the settings button and the
// warning show for a state, so that the menu and the window agree.
struct ClamshellPresentation {
    bool isOn = false;
    bool isEnabled = false;
    std::optional<QString> notice;
    bool showsSettingsButton = false;
    bool showsWarning = false;
    // The settings button opens the desktop's power settings, not the
    // helper's approval.
    bool opensDesktopSettings = false;
    // Whose power settings decide the lid there: "Plasma", "Xfce", …
    QString settingsName;

    // `desktopDecidesLid`: the desktop runs the lid action itself, so the
    // mode has no effect there; the switch says so and offers the desktop's
    // settings, and can still turn off a mode that is on.
    // `lidHandler`: the power manager found holding logind's lid lock
    // (DesktopLidSettings::lidHandler), which decides the lid in the same way.
    static ClamshellPresentation of(
        const ClamshellState &state, bool desktopDecidesLid = false, const QString &lidHandler = QString());

    bool operator==(const ClamshellPresentation &) const = default;
};

// The warning shown under the switch while the lid-closed mode is on.
QString clamshellWarningText();
// The notice shown where the desktop runs the lid itself.
QString desktopLidNoticeText();
// The same where a power manager found in logind's list runs it.
QString lidHandlerNoticeText(const QString &lidHandler);
