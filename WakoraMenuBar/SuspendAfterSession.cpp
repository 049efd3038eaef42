#include "SuspendAfterSession.h"

#include "KeepAwakeLedger.h"
#include "TimedSessionController.h"

#include <QCoroDBusPendingCall>
#include <QDBusMessage>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcSuspend, "com.quorvel.WakoraApp.MenuBar.Suspend")

namespace {

// The user's own requests to stay awake; triggers and the application rule
// are not the user asking now.
bool isUsersRequest(const Claim &claim)
{
    return claim.owner == Claim::manualOwner() || claim.owner == Claim::timerOwner() || claim.isHold();
}

// logind answers a suspend at once (the sleep follows); a hung logind must
// not hold the agent's word back for long.
constexpr int suspendTimeout = 25'000;

} // namespace

QCoro::Task<std::optional<QString>> SuspendAfterSession::suspendThroughLogind(QDBusConnection systemBus)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("Suspend"));
    // false: no interactive authorization; nobody is at the screen to answer it.
    call << false;
    QDBusPendingCall pending = systemBus.asyncCall(call, suspendTimeout);
    const QDBusMessage reply = co_await pending;
    if (reply.type() == QDBusMessage::ReplyMessage)
        co_return std::nullopt;
    co_return QStringLiteral("%1 (%2)").arg(reply.errorMessage(), reply.errorName());
}

SuspendAfterSession::SuspendAfterSession(TimedSessionController *sessions, KeepAwakeLedger *ledger, Notices notices,
    Suspend suspend, std::chrono::milliseconds grace, QObject *parent)
    : QObject(parent)
    , m_ledger(ledger)
    , m_notices(std::move(notices))
    , m_suspend(std::move(suspend))
{
    m_grace.setSingleShot(true);
    m_grace.setInterval(grace);
    connect(&m_grace, &QTimer::timeout, this, [this] { suspendNow(); });
    connect(sessions, &TimedSessionController::suspendDue, this, &SuspendAfterSession::begin);
    if (ledger)
        connect(ledger, &KeepAwakeLedger::changed, this, &SuspendAfterSession::claimsChanged);
}

void SuspendAfterSession::begin()
{
    m_ownersBefore.clear();
    if (m_ledger) {
        for (const Claim &claim : m_ledger->claims()) {
            if (isUsersRequest(claim))
                m_ownersBefore.insert(claim.owner);
        }
    }
    qCInfo(lcSuspend, "The session is over: suspending in %lld ms unless cancelled",
        qlonglong(m_grace.intervalAsDuration().count()));
    m_grace.start();
    if (m_notices.warn)
        m_notices.warn(m_grace.intervalAsDuration());
    Q_EMIT pendingChanged();
}

void SuspendAfterSession::cancel()
{
    if (!m_grace.isActive())
        return;
    qCInfo(lcSuspend, "The suspend was cancelled");
    m_grace.stop();
    if (m_notices.withdraw)
        m_notices.withdraw();
    Q_EMIT pendingChanged();
}

void SuspendAfterSession::claimsChanged()
{
    if (!m_grace.isActive() || !m_ledger)
        return;
    for (const Claim &claim : m_ledger->claims()) {
        if (isUsersRequest(claim) && !m_ownersBefore.contains(claim.owner)) {
            qCInfo(lcSuspend, "A new request to stay awake (%s) cancels the suspend", qUtf8Printable(claim.owner));
            cancel();
            return;
        }
    }
}

QCoro::Task<> SuspendAfterSession::suspendNow()
{
    QPointer<SuspendAfterSession> self(this);
    if (m_notices.withdraw)
        m_notices.withdraw();
    Q_EMIT pendingChanged();
    qCInfo(lcSuspend, "Suspending the machine");
    const Suspend suspend = m_suspend;
    std::optional<QString> cause;
    if (suspend)
        cause = co_await suspend();
    if (!self)
        co_return;
    if (cause) {
        qCWarning(lcSuspend, "Cannot suspend the machine: %s", qUtf8Printable(*cause));
        if (m_notices.failed)
            m_notices.failed(*cause);
    }
    Q_EMIT suspendAsked(cause);
}
