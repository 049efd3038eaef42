#pragma once

#include "PowerToggling.h"
#include "TimedSession.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

// The agent's timed sessions: turns kinds on, and at the session's end turns
// off again those it turned on itself. A kind of the session switched off by
// anyone else (the window, the tray menu, `wakora off`, a condition), or any
// plain switch request (takeOver()), is the user taking over: the session
// is forgotten and the kinds stay as they are.
//
// A length ("for 2 hours") runs on the time since boot, suspended time
// included, and no change of the wall clock stretches or shortens it; its
// end on the wall clock is worked out anew as that clock moves. A clock
// time ("until 18:30") follows the wall clock. The owner runs checkEnd()
// after a resume and after the wall clock is set, so that either ends on time.
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

    // The longest the agent sleeps between looks at the wall clock, so that a
    // clock set forward, or a suspend the display kind alone did not prevent,
    // ends the session within this much of its time.
    static constexpr std::chrono::milliseconds longestWait{ 60'000 };

    explicit TimedSessionController(PowerToggling *power, Clock now = &QDateTime::currentDateTimeUtc,
        Elapsed elapsed = &TimedSessionController::sinceBoot, QObject *parent = nullptr);

    const TimedSession &session() const { return m_session; }
    QDateTime now() const { return m_now(); }

    // Turns the kinds (a bit set) on until the end; absent on success, else
    // the text the requester is shown. When a kind cannot be turned on, the
    // ones this request turned on go off again and no session starts.
    QCoro::Task<std::optional<QString>> startFor(qint64 kinds, qint64 seconds);
    QCoro::Task<std::optional<QString>> startUntil(qint64 kinds, QDateTime end);
    // Ends the running session now, without a notice.
    QCoro::Task<> cancel();
    // The user switched a kind by hand: the session is forgotten, the kinds
    // stay as they are.
    void takeOver();
    // Ends the session once its time has come. The timer runs it; tests run
    // it after moving their clock.
    QCoro::Task<> checkEnd();

Q_SIGNALS:
    // A session started, ended, was cancelled or was taken over.
    void didChange();
    // The session's time ran out; kinds is what it covered.
    void sessionEnded(qint64 kinds);

private:
    QCoro::Task<std::optional<QString>> start(
        qint64 kinds, QDateTime end, std::optional<std::chrono::milliseconds> length);
    // Time left of a length; absent for a clock time.
    std::optional<std::chrono::milliseconds> lengthLeft() const;
    // Turns off what the session turned on; answers whether all of it went off.
    QCoro::Task<bool> turnOff(qint64 kinds);
    void powerChanged();
    void arm();

    QPointer<PowerToggling> m_power;
    Clock m_now;
    Elapsed m_elapsed;
    TimedSession m_session;
    std::optional<std::chrono::milliseconds> m_deadline; // of a length, on m_elapsed
    QTimer m_timer;
    bool m_ending = false;
};
