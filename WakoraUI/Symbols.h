#pragma once

#include <QIcon>
#include <QString>

// One of our monochrome symbols by name ("moon.zzz", "moon.zzz.fill",
// "sun.max", "display", "laptopcomputer", "power", "lock.shield",
// "gearshape"), marked as a mask so that trays and menus tint it to match.
QIcon symbolIcon(const QString &name);
