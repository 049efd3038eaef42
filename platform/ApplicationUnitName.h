#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// The names desktops give the systemd user units they start applications in:
// app[-<launcher>]-<ApplicationID>-<RANDOM>.scope and
// app[-<launcher>]-<ApplicationID>[@<RANDOM>].service, with the id escaped as
// unit names are ("firefox-esr" is "firefox\x2desr"). GNOME and KDE launch
// this way, Flatpak as app-flatpak-<app id>-<N>.scope, systemd's autostart
// generator as app-<id>@autostart.service. Pure functions.
namespace ApplicationUnitName {

// The id as a unit name carries it: bytes other than ASCII letters, digits,
// ':', '_' and '.' as \xNN.
QString escape(QStringView id);

// Each \xNN as the byte it stands for, the bytes read as UTF-8.
QString unescape(QStringView escaped);

// Whether a unit of this name runs the application of this desktop entry id.
// The launcher segment is optional and never holds a dot ("org.gnome" is an
// id's start, not a launcher), and RANDOM is hex digits or a UUID, so an
// entry's id never matches a unit of a longer id that begins with it.
bool runs(QStringView unitName, QStringView desktopEntryId);

// The app id of a Flatpak application's unit ("app-flatpak-org.gnome.Maps-4242.scope"),
// absent for any other name.
std::optional<QString> flatpakAppId(QStringView unitName);

} // namespace ApplicationUnitName
