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

    static ClamshellPresentation of(const ClamshellState &state);

    bool operator==(const ClamshellPresentation &) const = default;
};

// The warning shown under the switch while the lid-closed mode is on.
QString clamshellWarningText();
