#pragma once

#include "GnomeIdleSettings.h"

// GNOME's idle settings through GSettings (GIO), for the power source given.
namespace GnomeSettingsReader {

GnomeIdleValues read(bool onBattery);

} // namespace GnomeSettingsReader
