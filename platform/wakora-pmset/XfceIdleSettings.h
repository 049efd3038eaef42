#pragma once

#include "IdleSettings.h"

#include <QMap>
#include <QStringList>
#include <QVariant>

// xfce4-power-manager's idle settings in its xfconf channel, with the
// meanings and defaults of xfce4-power-manager 4.18 (Debian 12).
namespace XfceIdleSettings {

inline const QString channel = QStringLiteral("xfce4-power-manager");

// The properties the settings for this power source are made of.
QStringList properties(bool onBattery);

// From the properties that are set (absent ones take the defaults).
IdleSettings fromProperties(const QMap<QString, QVariant> &set, bool onBattery);

} // namespace XfceIdleSettings
