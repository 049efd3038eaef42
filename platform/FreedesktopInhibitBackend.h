#pragma once

#include "BusNameOwners.h"
#include "InhibitBackend.h"

// The session's freedesktop services, as KDE Plasma and Xfce serve them:
// org.freedesktop.PowerManagement.Inhibit for system sleep and
// org.freedesktop.ScreenSaver for the display, each Inhibit(application,
// reason) with a cookie for UnInhibit. Either may be there without the other.
class FreedesktopInhibitBackend final : public InhibitBackend
{
public:
    FreedesktopInhibitBackend(
        QDBusConnection sessionBus, std::shared_ptr<BusNameOwners> owners, std::chrono::milliseconds timeout);

    QString name() const override { return QStringLiteral("org.freedesktop.PowerManagement/ScreenSaver"); }
    QDBusConnection bus() const override { return m_bus; }
    QCoro::Task<bool> isAnswering(AssertionKind kind) override;
    QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> inhibit(AssertionKind kind) override;
    std::optional<QString> holderName(AssertionKind kind) const override;

    // The service, object and interface each kind goes to.
    static CookieInhibitor::Service serviceFor(AssertionKind kind);

private:
    QDBusConnection m_bus;
    std::shared_ptr<BusNameOwners> m_owners;
    std::chrono::milliseconds m_timeout;
};
