#pragma once

#include "Expected.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QString>

#include <chrono>

// One inhibit held from the desktop or from logind, owned by exactly one
// handle. release() gives it back and reports a refusal as a negative
// errno-style status; a handle destroyed while still holding gives it back
// without waiting for an answer. Whatever the handle, the inhibit also ends
// when our bus connection or our process does.
class Inhibitor
{
public:
    Inhibitor() = default;
    Inhibitor(const Inhibitor &) = delete;
    Inhibitor &operator=(const Inhibitor &) = delete;
    virtual ~Inhibitor() = default;

    virtual Expected<void, qint32> release() = 0;
};

// logind: the lock is the file descriptor it handed us.
class FdInhibitor final : public Inhibitor
{
public:
    explicit FdInhibitor(QDBusUnixFileDescriptor fd);

    Expected<void, qint32> release() override;

private:
    QDBusUnixFileDescriptor m_fd;
};

// org.freedesktop.PowerManagement.Inhibit and org.freedesktop.ScreenSaver:
// a cookie handed back through UnInhibit on the same connection.
class CookieInhibitor final : public Inhibitor
{
public:
    CookieInhibitor(QDBusConnection connection, QString service, QString path, QString interface, quint32 cookie,
        std::chrono::milliseconds timeout);
    ~CookieInhibitor() override;

    Expected<void, qint32> release() override;

private:
    QDBusConnection m_connection;
    QString m_service;
    QString m_path;
    QString m_interface;
    quint32 m_cookie;
    std::chrono::milliseconds m_timeout;
    bool m_held = true;
};

// The desktop portal: the inhibit lasts as long as its request object.
class PortalInhibitor final : public Inhibitor
{
public:
    PortalInhibitor(QDBusConnection connection, QString requestPath, std::chrono::milliseconds timeout);
    ~PortalInhibitor() override;

    Expected<void, qint32> release() override;

private:
    QDBusConnection m_connection;
    QString m_requestPath;
    std::chrono::milliseconds m_timeout;
    bool m_held = true;
};
