#pragma once

#include <QHash>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>

// The [Desktop Entry] group of a freedesktop .desktop file, as far as
// telling applications apart needs it.
struct DesktopEntry {
    QString type;
    QString name;
    QHash<QString, QString> localizedNames; // "ko_KR", "ko", "sr@latin" -> Name[…]
    QString icon;
    QString exec;
    QString tryExec;
    QString startupWMClass; // the X11 window class or Wayland app id its windows carry
    QString flatpak; // X-Flatpak: the app id of a Flatpak application's exported entry
    bool terminal = false;
    bool noDisplay = false;
    bool hidden = false;

    // Absent when the text has no [Desktop Entry] group.
    static std::optional<DesktopEntry> parse(const QByteArray &text);

    // Name[lang_COUNTRY], Name[lang], then Name, for the locale's language
    // and country. A QLocale carries no @MODIFIER, so entries keyed with one
    // ("sr@latin") are never chosen.
    QString localizedName(const QLocale &locale) const;

    // A visible application entry, one a launcher would show.
    bool isVisibleApplication() const;

    // The program Exec starts: its first argument after unquoting, with a
    // leading "env VAR=value …" skipped. Empty when Exec has none.
    QString program() const;

    // Splits an Exec value into arguments following freedesktop's quoting
    // rules for desktop entries.
    static QStringList execArguments(const QString &exec);
};
