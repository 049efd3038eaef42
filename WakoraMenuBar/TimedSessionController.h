#pragma once

#include "KeepAwakeLedger.h"
#include "TimedSession.h"
#include "TurnQueue.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

// The agent's timed sessions: a claim on the ledger from the start to the
// end, withdrawn at the end; what another claim asks for stays on. The user
// switching a kind of the session off ends the claim on that kind; a
// session left with no kind is over.
//
// A length ("for 2 hours") runs on the time since boot, suspended time
// included, and no change of the wall clock stretches or shortens it; its
// end on the wall clock is worked out anew as that clock moves. A clock
// time ("until 18:30") follows the wall clock. The owner runs checkEnd()
// after a resume and after the wall clock is set, so that either ends on
// time; in between, one timer wakes the agent at the end and not before.
//
// Nothing of a session is stored: an inhibitor dies with the agent, so a
// session outliving it would describe a machine that is no longer kept
// awake. Main thread only.
class TimedSessionController : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    // Time since boot, suspended time included (CLOCK_BOOTTIME).
    using Elapsed = std::function<std::chrono::milliseconds()>;
    static std::chrono::milliseconds sinceBoot();

    explicit TimedSessionController(KeepAwakeLedger *ledger, Clock now = &QDateTime::currentDateTimeUtc,
        Elapsed elapsed = &TimedSessionController::sinceBoot, QObject *parent = nullptr);

    const TimedSession &session() const { return m_session; }
    // The end of a length on the time since boot; absent for a clock time.
    std::optional<std::chrono::milliseconds> deadline() const { return m_deadline; }
    QDateTime now() const { return m_now(); }

    // Claims the kinds (a bit set) until the end; absent on success, else
    // the text the requester is shown. When a kind cannot be held, nothing
    // of the request stays and the running session, if any, is as it was.
    // With thenSuspend the machine is put to sleep when the time runs out
    // (suspendDue); the latest start says which.
    QCoro::Task<std::optional<QString>> startFor(qint64 kinds, qint64 seconds, bool thenSuspend = false);
    QCoro::Task<std::optional<QString>> startUntil(qint64 kinds, QDateTime end, bool thenSuspend = false);
    // Takes over a session another agent ran (an upgrade's hand-over), with
    // its end as it was: on the time since boot for a length, else on the
    // wall clock. A session already over is not started.
    QCoro::Task<std::optional<QString>> resume(
        qint64 kinds, QDateTime end, std::optional<std::chrono::milliseconds> deadline, bool thenSuspend = false);
    // Ends the running session now, without a notice.
    QCoro::Task<> cancel();
    // Ends the session once its time has come. The timer runs it; tests run
    // it after moving their clock.
    QCoro::Task<> checkEnd();

Q_SIGNALS:
    // A session started, ended, was cancelled or lost its kinds to a switch.
    void didChange();
    // The session's time ran out; kinds is what it covered.
    void sessionEnded(qint64 kinds);
    // The time of a session started "then suspend" ran out (instead of
    // sessionEnded); a cancel or the switch ending it says nothing.
    void suspendDue(qint64 kinds);

private:
    QCoro::Task<std::optional<QString>> start(
        qint64 kinds, QDateTime end, std::optional<std::chrono::milliseconds> deadline, bool thenSuspend);
    // Time left of a length; absent for a clock time.
    std::optional<std::chrono::milliseconds> lengthLeft() const;
    // Ends the session and withdraws its claim.
    QCoro::Task<> end(bool announce);
    void claimCut(const QString &owner, qint64 kinds);
    void arm();

    QPointer<KeepAwakeLedger> m_ledger;
    Clock m_now;
    Elapsed m_elapsed;
    TimedSession m_session;
    std::optional<std::chrono::milliseconds> m_deadline; // of a length, on m_elapsed
    QTimer m_timer;
    // Starts, ends and looks at the end take turns, so that an end never
    // withdraws what a start that overlapped it has just claimed.
    TurnQueue m_turns;
};
