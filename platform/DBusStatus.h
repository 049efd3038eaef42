#pragma once

#include <QDBusError>
#include <QString>

// The one table that turns a D-Bus failure into the negative errno-style
// status our error values carry: AccessDenied -EACCES, ServiceUnknown
// -ENOENT, NoReply and Timeout -ETIMEDOUT, anything else -EIO.
qint32 statusForDBusError(const QString &errorName);
qint32 statusForDBusError(const QDBusError &error);
