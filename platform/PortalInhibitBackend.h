#pragma once

#include "BusNameOwners.h"
#include "InhibitBackend.h"

#include <memory>

// The desktop portal: Inhibit("", flags, {reason, handle_token}) with flag 4
// for suspend and 8 for idle answers a request path at once; whether the
// portal's desktop backend could really inhibit comes later, as the
// request's Response. Code 0 is success, anything else a refusal, and no
// answer within `responseTimeout` a failure too (the request is then
// closed). A Response after that ends the inhibit, which the handle reports
// as lost.
//
// On GNOME a program outside a sandbox reaches the session manager through
// the portal with an empty app id, which gnome-session refuses while the
// portal still answers 0: outside a sandbox the session manager is asked
// directly, before the portal.
class PortalInhibitBackend final : public InhibitBackend
{
public:
    static constexpr std::chrono::milliseconds defaultResponseTimeout{ 5000 };

    PortalInhibitBackend(QDBusConnection sessionBus, std::shared_ptr<BusNameOwners> owners,
        std::chrono::milliseconds timeout, std::chrono::milliseconds responseTimeout = defaultResponseTimeout);

    QString name() const override { return QStringLiteral("desktop portal"); }
    QDBusConnection bus() const override { return m_bus; }
    QCoro::Task<bool> isAnswering(AssertionKind kind) override;
    QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> inhibit(AssertionKind kind) override;
    std::optional<QString> holderName(AssertionKind kind) const override;

private:
    // Whether the portal serves Inhibit, kept while its owner stays the same.
    struct Serving {
        std::optional<bool> answer;
        quint64 ownerChanges = 0;
    };

    QDBusConnection m_bus;
    std::shared_ptr<BusNameOwners> m_owners;
    std::shared_ptr<Serving> m_serving = std::make_shared<Serving>();
    std::chrono::milliseconds m_timeout;
    std::chrono::milliseconds m_responseTimeout;
    std::shared_ptr<quint64> m_tokens = std::make_shared<quint64>(0);
};
