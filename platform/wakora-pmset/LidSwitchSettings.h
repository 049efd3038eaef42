#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

// logind's three lid actions as its properties report them (absent when a
// property is not there), and whether closing the lid then does nothing.
struct LidSwitchSettings {
    std::optional<QString> handleLidSwitch;
    std::optional<QString> externalPower; // HandleLidSwitchExternalPower
    std::optional<QString> docked; // HandleLidSwitchDocked

    // The property names, which are also the keys of logind.conf.
    static const QStringList keys;

    static LidSwitchSettings fromProperties(const QVariantMap &properties);

    // True when the lid is ignored whatever the power source or dock. logind
    // reports an unset HandleLidSwitchExternalPower as "": the lid on external
    // power then does what HandleLidSwitch says. HandleLidSwitchDocked is
    // always one action ("ignore" unless set): anything else there, an empty
    // value included, is not taken to ignore the lid.
    bool sleepDisabled() const;
};
