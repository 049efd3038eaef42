#include "DBusStatus.h"

#include <cerrno>

qint32 statusForDBusError(const QString &errorName)
{
    if (errorName == u"org.freedesktop.DBus.Error.AccessDenied")
        return -EACCES;
    if (errorName == u"org.freedesktop.DBus.Error.ServiceUnknown")
        return -ENOENT;
    if (errorName == u"org.freedesktop.DBus.Error.NoReply" || errorName == u"org.freedesktop.DBus.Error.Timeout"
        || errorName == u"org.freedesktop.DBus.Error.TimedOut")
        return -ETIMEDOUT;
    return -EIO;
}

qint32 statusForDBusError(const QDBusError &error)
{
    return statusForDBusError(error.name());
}
