#include "PmsetListing.h"

namespace PmsetListing {

QByteArray text(bool sleepDisabled, const IdleSettings &idle)
{
    QByteArray listing = "System-wide power settings:\n";
    listing += " SleepDisabled " + QByteArray(sleepDisabled ? "1" : "0") + '\n';
    listing += "Currently in use:\n";
    // Wake-on-LAN and the disk's idle delay have no source here: left out, not invented.
    if (idle.sleepMinutes)
        listing += " sleep " + QByteArray::number(*idle.sleepMinutes) + '\n';
    if (idle.displaySleepMinutes)
        listing += " displaysleep " + QByteArray::number(*idle.displaySleepMinutes) + '\n';
    return listing;
}

} // namespace PmsetListing
