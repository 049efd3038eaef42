#pragma once

#include "BusNameOwners.h"
#include "InhibitBackend.h"

// KDE Plasma's power daemon, PowerDevil, asked directly for the display:
// PolicyAgent.AddInhibition with the screen policy, given back with
// ReleaseInhibition(cookie). Plasma's screen locker usually serves
// org.freedesktop.ScreenSaver and forwards to PowerDevil itself; where it
// does not run (a session without the locker, PowerDevil on its own) this
// keeps the display kind with the desktop rather than at logind, whose idle
// lock Plasma never consults. System sleep goes through PowerDevil's
// org.freedesktop.PowerManagement service, so this backend answers for the
// display only.
class PowerDevilInhibitBackend final : public InhibitBackend
{
public:
    PowerDevilInhibitBackend(
        QDBusConnection sessionBus, std::shared_ptr<BusNameOwners> owners, std::chrono::milliseconds timeout);

    QString name() const override { return QStringLiteral("org.kde.Solid.PowerManagement.PolicyAgent"); }
    QDBusConnection bus() const override { return m_bus; }
    QCoro::Task<bool> isAnswering(AssertionKind kind) override;
    QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> inhibit(AssertionKind kind) override;
    std::optional<QString> holderName(AssertionKind kind) const override;
    // ListInhibitions shows ("Wakora", the display's reason)...
    QCoro::Task<std::optional<bool>> isListed(AssertionKind kind) override;
    // ...once PowerDevil has put it into effect, five seconds after it was asked.
    std::chrono::milliseconds settleTime() const override { return std::chrono::milliseconds(6000); }

    // Where the cookie goes back to.
    static CookieInhibitor::Service service();

private:
    QDBusConnection m_bus;
    std::shared_ptr<BusNameOwners> m_owners;
    std::chrono::milliseconds m_timeout;
};
