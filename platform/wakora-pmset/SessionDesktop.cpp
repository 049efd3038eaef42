#include "SessionDesktop.h"

namespace SessionDesktops {

SessionDesktop fromCurrentDesktop(QStringView currentDesktop)
{
    for (const QStringView entry : currentDesktop.split(u':', Qt::SkipEmptyParts)) {
        const QStringView name = entry.trimmed();
        if (name.compare(u"GNOME", Qt::CaseInsensitive) == 0)
            return SessionDesktop::gnome;
        if (name.compare(u"KDE", Qt::CaseInsensitive) == 0)
            return SessionDesktop::plasma;
        if (name.compare(u"XFCE", Qt::CaseInsensitive) == 0)
            return SessionDesktop::xfce;
    }
    return SessionDesktop::none;
}

SessionDesktop fromBusNames(const QStringList &names)
{
    if (names.contains(u"org.gnome.SettingsDaemon.Power"))
        return SessionDesktop::gnome;
    if (names.contains(u"org.kde.Solid.PowerManagement"))
        return SessionDesktop::plasma;
    if (names.contains(u"org.xfce.PowerManager"))
        return SessionDesktop::xfce;
    return SessionDesktop::none;
}

} // namespace SessionDesktops
