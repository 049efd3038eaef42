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
    // PowerDevil's list (Plasma, both kinds: its screen locker hands the
    // screen saver's inhibits to it) or xfce4-power-manager's (system sleep).
    QCoro::Task<std::optional<bool>> isListed(AssertionKind kind) override;
    // PowerDevil puts an inhibit into effect, and into its list, only after
    // five seconds, so that short ones never reach it.
    std::chrono::milliseconds settleTime() const override { return std::chrono::milliseconds(6000); }

    // The service, object and interface each kind goes to.
    static CookieInhibitor::Service serviceFor(AssertionKind kind);

private:
    QDBusConnection m_bus;
    std::shared_ptr<BusNameOwners> m_owners;
    std::chrono::milliseconds m_timeout;
};
