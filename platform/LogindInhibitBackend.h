#pragma once

#include "BusNameOwners.h"
#include "InhibitBackend.h"

#include <memory>

// logind: Inhibit(what, who, why, mode) answers the lock's file descriptor.
// The mode is "block-weak" where logind knows it (systemd 257 and later: the
// user's own explicit suspend still goes through), "block" otherwise; which
// one logind takes is learnt from its first answer.
class LogindInhibitBackend final : public InhibitBackend
{
public:
    LogindInhibitBackend(
        QDBusConnection systemBus, std::shared_ptr<BusNameOwners> owners, std::chrono::milliseconds timeout);

    QString name() const override { return QStringLiteral("logind"); }
    QDBusConnection bus() const override { return m_bus; }
    QCoro::Task<bool> isAnswering(AssertionKind kind) override;
    QCoro::Task<Expected<std::unique_ptr<Inhibitor>, qint32>> inhibit(AssertionKind kind) override;
    // logind keeps its locks across its own restarts.
    std::optional<QString> holderName(AssertionKind) const override { return std::nullopt; }
    std::optional<QString> serviceName(AssertionKind) const override;
    // ListInhibitors shows our lock with the kind's reason.
    QCoro::Task<std::optional<bool>> isListed(AssertionKind kind) override;

    // The mode the last lock was taken in; empty before the first.
    QString mode() const { return m_state->mode; }

private:
    struct State {
        bool weakRefused = false;
        QString mode;
    };

    QDBusConnection m_bus;
    std::shared_ptr<BusNameOwners> m_owners;
    std::chrono::milliseconds m_timeout;
    std::shared_ptr<State> m_state = std::make_shared<State>();
};
