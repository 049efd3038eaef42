#pragma once

#include <QStringList>

class PowerToggling;

// What a switch cannot show by itself: a kind asked for that no service
// holds now (the switch reads off; the kind comes back on its own), or a
// display kind held where the desktop may blank the screen all the same.
// Empty when there is nothing to say.
namespace HoldNotices {

QStringList of(const PowerToggling &power);

} // namespace HoldNotices
