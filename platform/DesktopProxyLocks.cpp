#include "DesktopProxyLocks.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace {

struct HandlerLock {
    QLatin1String who; // empty: anyone (GNOME writes the user's name)
    QLatin1String why;
};

constexpr std::array<HandlerLock, 4> handlerLocks{ {
    { QLatin1String(), QLatin1String("GNOME handling keypresses") },
    { QLatin1String(), QLatin1String("External monitor attached or configuration changed recently") },
    { QLatin1String("PowerDevil"), QLatin1String("KDE handles power events") },
    { QLatin1String("xfce4-power-manager"), QLatin1String("xfce4-power-manager handles these events") },
} };

} // namespace

bool DesktopProxyLocks::isProxyLock(const LogindInhibitor &lock)
{
    const QStringList items = lock.what.split(u':', Qt::SkipEmptyParts);
    if (items.isEmpty())
        return false;

    if (lock.why == u"user session inhibited") {
        // gnome-session asks for sleep and shutdown together; a lock of
        // another kind with the same words is somebody else's.
        return lock.mode == u"block" && std::all_of(items.cbegin(), items.cend(), [](const QString &item) {
            return item == u"sleep" || item == u"shutdown" || item == u"idle";
        });
    }

    // A handler lock only ever covers keys and the lid: one that also blocks
    // sleep keeps the machine awake and stays visible.
    const bool onlyHandlers
        = std::all_of(items.cbegin(), items.cend(), [](const QString &item) { return item.startsWith(u"handle-"); });
    return onlyHandlers && std::any_of(handlerLocks.cbegin(), handlerLocks.cend(), [&lock](const HandlerLock &handler) {
        return lock.why == handler.why && (handler.who.isEmpty() || lock.who == handler.who);
    });
}
