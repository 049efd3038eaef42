#pragma once

#include <QStringList>
#include <QStringView>

// The desktop whose power manager decides when an idle session sleeps.
enum class SessionDesktop { none, gnome, plasma, xfce };

namespace SessionDesktops {

// From XDG_CURRENT_DESKTOP ("ubuntu:GNOME", "KDE", "XFCE"): the first entry
// naming a desktop we know, compared without case; none otherwise.
SessionDesktop fromCurrentDesktop(QStringView currentDesktop);

// From the names on the session bus: the desktop whose power manager owns one.
SessionDesktop fromBusNames(const QStringList &names);

} // namespace SessionDesktops
