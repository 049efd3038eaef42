#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// One of our monochrome symbols by name ("moon.zzz", "moon.zzz.fill",
// "sun.max", "display", "laptopcomputer", "power", "lock.shield",
// "gearshape"), marked as a mask so that trays and menus tint it to match.
QIcon symbolIcon(const QString &name);

// The symbol drawn `size` device-independent pixels square in `colour`, for a
// screen of `devicePixelRatio`. A missing symbol gives a null pixmap.
QPixmap symbolPixmap(const QString &name, int size, const QColor &colour, qreal devicePixelRatio);

// The symbol in `colour` at one and two device pixels per pixel, for buttons.
QIcon tintedSymbolIcon(const QString &name, const QColor &colour, int size = 16);
