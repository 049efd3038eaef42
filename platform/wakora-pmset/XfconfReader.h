#pragma once

#include "IdleSettings.h"

#include <QDBusConnection>

// xfce4-power-manager's settings from xfconfd on the session bus.
namespace XfconfReader {

// Nothing known when xfconfd does not answer.
IdleSettings read(QDBusConnection &sessionBus, bool onBattery);

} // namespace XfconfReader
