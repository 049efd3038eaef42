#pragma once

#include "BusNameOwners.h"
#include "InhibitBackend.h"

// GNOME's session manager: Inhibit(app_id, toplevel, reason, flags) with
// flag 4 for suspend and 8 for idle; Uninhibit(cookie). gnome-session takes
// the matching logind lock itself and drops ours when our connection closes.
class GnomeSessionInhibitBackend final : public InhibitBackend
{
public:
    GnomeSessionInhibitBackend(
        QDBusConnection sessionBus, std::shared_ptr<BusNameOwners> owners, std::chrono::milliseconds timeout);

    QString name() const override { return QStringLiteral("org.gnome.SessionManager"); }
    QDBusConnection bus() const override { return m_bus; }
    QCoro::Task<bool> isAnswering(AssertionKind kind) override;
    QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> inhibit(AssertionKind kind) override;
    std::optional<QString> holderName(AssertionKind kind) const override;
    // GetInhibitors lists our app id with the kind's flag.
    QCoro::Task<std::optional<bool>> isListed(AssertionKind kind) override;

private:
    QDBusConnection m_bus;
    std::shared_ptr<BusNameOwners> m_owners;
    std::chrono::milliseconds m_timeout;
};
