#include "TimedSessionController.h"

#include <QLoggingCategory>

#include <algorithm>
#include <cstdlib>

#include <time.h>

Q_LOGGING_CATEGORY(lcTimedSession, "com.quorvel.WakoraApp.TimedSession")

namespace {

QString endingText()
{
    return QStringLiteral("The agent is ending");
}

} // namespace

std::chrono::milliseconds TimedSessionController::sinceBoot()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return std::chrono::seconds(now.tv_sec)
        + std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds(now.tv_nsec));
}

TimedSessionController::TimedSessionController(KeepAwakeLedger *ledger, Clock now, Elapsed elapsed, QObject *parent)
    : QObject(parent)
    , m_ledger(ledger)
    , m_now(std::move(now))
    , m_elapsed(std::move(elapsed))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { checkEnd(); });
    connect(ledger, &KeepAwakeLedger::claimCut, this, &TimedSessionController::claimCut);
}

QCoro::Task<std::optional<QString>> TimedSessionController::startFor(qint64 kinds, qint64 seconds, bool thenSuspend)
{
    if (!TimedSession::isValidKinds(kinds))
        co_return TimedSession::invalidKinds();
    const auto end = TimedSession::endAfter(m_now(), seconds);
    if (!end)
        co_return end.error();
    // The length counts from the request, however long the claim takes.
    const std::chrono::milliseconds deadline = m_elapsed() + std::chrono::seconds(seconds);
    co_return co_await start(kinds, end.value(), deadline, thenSuspend);
}

QCoro::Task<std::optional<QString>> TimedSessionController::startUntil(qint64 kinds, QDateTime end, bool thenSuspend)
{
    if (!TimedSession::isValidKinds(kinds))
        co_return TimedSession::invalidKinds();
    const auto checked = TimedSession::endAt(m_now(), end);
    if (!checked)
        co_return checked.error();
    co_return co_await start(kinds, checked.value(), std::nullopt, thenSuspend);
}

QCoro::Task<std::optional<QString>> TimedSessionController::resume(
    qint64 kinds, QDateTime end, std::optional<std::chrono::milliseconds> deadline, bool thenSuspend)
{
    if (!TimedSession::isValidKinds(kinds))
        co_return TimedSession::invalidKinds();
    if (!end.isValid())
        co_return TimedSession::invalidEndTime();
    const bool over = deadline ? *deadline <= m_elapsed() : end <= m_now();
    if (over)
        co_return std::nullopt;
    if (deadline)
        end = m_now().addMSecs((*deadline - m_elapsed()).count());
    co_return co_await start(kinds, end, deadline, thenSuspend);
}

QCoro::Task<std::optional<QString>> TimedSessionController::start(
    qint64 kinds, QDateTime end, std::optional<std::chrono::milliseconds> deadline, bool thenSuspend)
{
    QPointer<TimedSessionController> self(this);
    const TurnQueue::Turn turn = co_await m_turns.next();
    if (!self || !m_ledger)
        co_return endingText();
    const QPointer<KeepAwakeLedger> ledger = m_ledger;
    // Arguments are named before the co_await: GCC 12 destroys temporaries
    // of a co_await expression twice.
    const QString owner = Claim::timerOwner();
    const KeepAwakeLedger::Details details{ end, QString(), false };
    const auto failure = co_await ledger->add(owner, kinds, details);
    if (!self)
        co_return endingText();
    if (failure)
        co_return failure;
    m_session.start(kinds, kinds, end, thenSuspend);
    m_deadline = deadline;
    qCInfo(lcTimedSession, "Kinds %lld on until %s%s", kinds, qUtf8Printable(end.toString(Qt::ISODate)),
        thenSuspend ? ", then suspend" : "");
    arm();
    Q_EMIT didChange();
    co_return std::nullopt;
}

QCoro::Task<> TimedSessionController::checkEnd()
{
    QPointer<TimedSessionController> self(this);
    const TurnQueue::Turn turn = co_await m_turns.next();
    if (!self || !m_session.isRunning())
        co_return;
    if (const auto left = lengthLeft(); left && left->count() > 0) {
        // The wall clock may have moved: the end it shows follows the length left.
        const QDateTime end = m_now().addMSecs(left->count());
        const bool moved = std::abs(end.msecsTo(*m_session.endsAt())) >= 1000;
        if (moved) {
            m_session.start(m_session.kinds(), m_session.kinds(), end, m_session.thenSuspend());
            if (m_ledger)
                m_ledger->describe(Claim::timerOwner(), { end, QString(), false });
        }
        arm();
        if (moved)
            Q_EMIT didChange();
        co_return;
    }
    if (!m_deadline && !m_session.hasEnded(m_now())) {
        arm();
        co_return;
    }
    qCInfo(lcTimedSession, "The session of kinds %lld has ended", m_session.kinds());
    co_await end(true);
}

QCoro::Task<> TimedSessionController::cancel()
{
    QPointer<TimedSessionController> self(this);
    const TurnQueue::Turn turn = co_await m_turns.next();
    if (!self || !m_session.isRunning())
        co_return;
    co_await end(false);
}

QCoro::Task<> TimedSessionController::end(bool announce)
{
    QPointer<TimedSessionController> self(this);
    m_timer.stop();
    m_deadline.reset();
    const qint64 kinds = m_session.kinds();
    const bool thenSuspend = m_session.thenSuspend();
    m_session.stop();
    const QString owner = Claim::timerOwner();
    if (const QPointer<KeepAwakeLedger> ledger = m_ledger)
        co_await ledger->withdraw(owner);
    if (!self)
        co_return;
    Q_EMIT didChange();
    if (announce && thenSuspend)
        Q_EMIT suspendDue(kinds);
    else if (announce)
        Q_EMIT sessionEnded(kinds);
}

void TimedSessionController::claimCut(const QString &owner, qint64 kinds)
{
    if (owner != Claim::timerOwner() || !m_session.isRunning())
        return;
    const qint64 left = m_session.kinds() & ~kinds;
    if (left != 0) {
        // The switch took one kind; the session goes on with the other.
        const bool thenSuspend = m_session.thenSuspend();
        const QDateTime end = m_session.endsAt().value_or(m_now());
        m_session.stop();
        m_session.start(left, left, end, thenSuspend);
        Q_EMIT didChange();
        return;
    }
    qCInfo(lcTimedSession, "The user switched the session's kinds off: the session is over");
    m_session.stop();
    m_timer.stop();
    m_deadline.reset();
    Q_EMIT didChange();
}

void TimedSessionController::arm()
{
    const auto end = m_session.endsAt();
    if (!end)
        return;
    const auto left = lengthLeft();
    // One wake-up at the end: a resume and a change of the wall clock are
    // told apart by the owner, who runs checkEnd() then.
    const qint64 remaining = std::max<qint64>(left ? left->count() : m_now().msecsTo(*end), 0);
    m_timer.start(std::chrono::milliseconds(remaining));
}

std::optional<std::chrono::milliseconds> TimedSessionController::lengthLeft() const
{
    if (!m_deadline)
        return std::nullopt;
    return *m_deadline - m_elapsed();
}
