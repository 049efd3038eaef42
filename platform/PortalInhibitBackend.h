#pragma once

#include "InhibitBackend.h"

#include <memory>

// The desktop portal: Inhibit("", flags, {reason, handle_token}) with flag 4
// for suspend and 8 for idle answers a request path at once; whether the
// portal's desktop backend could really inhibit comes later, as the
// request's Response. Code 0 is success and anything else a refusal. A
// portal that says nothing within `settle` has granted it (the portal
// answers only failures); a refusal after that ends the inhibit, which the
// handle reports as lost.
class PortalInhibitBackend final : public InhibitBackend
{
public:
    static constexpr std::chrono::milliseconds defaultSettle{ 500 };

    PortalInhibitBackend(QDBusConnection sessionBus, std::chrono::milliseconds timeout,
        std::chrono::milliseconds settle = defaultSettle);

    QString name() const override { return QStringLiteral("desktop portal"); }
    QDBusConnection bus() const override { return m_bus; }
    QCoro::Task<bool> isAnswering(AssertionKind kind) override;
    QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> inhibit(AssertionKind kind) override;
    std::optional<QString> holderName(AssertionKind kind) const override;

private:
    QDBusConnection m_bus;
    std::chrono::milliseconds m_timeout;
    std::chrono::milliseconds m_settle;
    std::shared_ptr<quint64> m_tokens = std::make_shared<quint64>(0);
};
