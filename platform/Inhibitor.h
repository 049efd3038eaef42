#pragma once

#include "Expected.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QString>

#include <chrono>
#include <memory>

class PortalRequest;

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

    virtual QCoro::Task<Expected<void, qint32>> release() = 0;

    // The service took the inhibit with it (it left the bus, or ended the
    // request itself): nothing is left to give back.
    virtual void forget() = 0;
};

// logind: the lock is the file descriptor it handed us.
class FdInhibitor final : public Inhibitor
{
public:
    explicit FdInhibitor(QDBusUnixFileDescriptor fd);

    QCoro::Task<Expected<void, qint32>> release() override;
    void forget() override;

private:
    QDBusUnixFileDescriptor m_fd;
};

// A cookie handed back through a method on the same connection:
// org.freedesktop.PowerManagement.Inhibit and org.freedesktop.ScreenSaver
// (UnInhibit), org.gnome.SessionManager (Uninhibit).
class CookieInhibitor final : public Inhibitor
{
public:
    struct Service {
        QString name;
        QString path;
        QString interface;
        QString releaseMethod;
    };

    CookieInhibitor(QDBusConnection connection, Service service, quint32 cookie, std::chrono::milliseconds timeout);
    ~CookieInhibitor() override;

    // For an Inhibit answer that came after we stopped waiting: the cookie
    // it carries is given back at once.
    static void giveBackLate(const QDBusConnection &connection, const Service &service, const QDBusMessage &late);

    QCoro::Task<Expected<void, qint32>> release() override;
    void forget() override { m_held = false; }

private:
    QDBusMessage releaseCall() const;

    QDBusConnection m_connection;
    Service m_service;
    quint32 m_cookie;
    std::chrono::milliseconds m_timeout;
    bool m_held = true;
};

// The desktop portal: the inhibit lasts as long as its request object.
class PortalInhibitor final : public Inhibitor
{
public:
    // Request.Close on a request object of ours, never starting the portal for it.
    static QDBusMessage closeCall(const QString &requestPath);

    PortalInhibitor(
        QDBusConnection connection, std::unique_ptr<PortalRequest> request, std::chrono::milliseconds timeout);
    ~PortalInhibitor() override;

    QCoro::Task<Expected<void, qint32>> release() override;
    void forget() override { m_held = false; }

private:
    QDBusConnection m_connection;
    std::unique_ptr<PortalRequest> m_request;
    std::chrono::milliseconds m_timeout;
    bool m_held = true;
};
