#pragma once

#include <QCoroTask>

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

class KeepAwakeLedger;
class TimedSessionController;

// Puts the machine to sleep when a timed session started "then suspend"
// runs out: it warns first, and suspends after a grace (a minute) unless the
// user cancels within it, through the notice's action or by asking for the
// machine to stay awake again (the switch, a new timed session, a hold).
// A session cancelled or switched off ends without any of this.
// Main thread only.
class SuspendAfterSession : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultGrace = std::chrono::minutes(1);

    // What the user is shown: the warning with its "취소" action, its
    // withdrawal, and why the machine could not be suspended.
    struct Notices {
        std::function<void(std::chrono::milliseconds grace)> warn;
        std::function<void()> withdraw;
        std::function<void(const QString &cause)> failed;
    };
    // Suspends the machine; answers why it could not.
    using Suspend = std::function<QCoro::Task<std::optional<QString>>()>;

    // logind's Suspend on the system bus, without asking for authorization
    // interactively: polkit lets an active local session suspend.
    static QCoro::Task<std::optional<QString>> suspendThroughLogind(QDBusConnection systemBus);

    SuspendAfterSession(TimedSessionController *sessions, KeepAwakeLedger *ledger, Notices notices, Suspend suspend,
        std::chrono::milliseconds grace = defaultGrace, QObject *parent = nullptr);

    bool isPending() const { return m_grace.isActive(); }
    // The user said no: the warning goes, and the machine stays as it is.
    void cancel();

Q_SIGNALS:
    // The grace started, was cancelled, or ran out.
    void pendingChanged();
    // The suspend was asked for; absent cause when logind took it.
    void suspendAsked(std::optional<QString> cause);

private:
    void begin();
    void claimsChanged();
    QCoro::Task<> suspendNow();

    QPointer<KeepAwakeLedger> m_ledger;
    Notices m_notices;
    Suspend m_suspend;
    QTimer m_grace;
    // The owners that kept something on when the grace began: only a claim
    // made after is the user's word to stay awake.
    QSet<QString> m_ownersBefore;
};
