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

TimedSessionController::TimedSessionController(PowerToggling *power, Clock now, Elapsed elapsed, QObject *parent)
    : QObject(parent)
    , m_power(power)
    , m_now(std::move(now))
    , m_elapsed(std::move(elapsed))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { checkEnd(); });
    connect(power, &PowerToggling::didChange, this, &TimedSessionController::powerChanged);
}

QCoro::Task<std::optional<QString>> TimedSessionController::startFor(qint64 kinds, qint64 seconds)
{
    if (!TimedSession::isValidKinds(kinds))
        co_return TimedSession::invalidKinds();
    const auto end = TimedSession::endAfter(m_now(), seconds);
    if (!end)
        co_return end.error();
    co_return co_await start(kinds, end.value(), std::chrono::seconds(seconds));
}

QCoro::Task<std::optional<QString>> TimedSessionController::startUntil(qint64 kinds, QDateTime end)
{
    if (!TimedSession::isValidKinds(kinds))
        co_return TimedSession::invalidKinds();
    const auto checked = TimedSession::endAt(m_now(), end);
    if (!checked)
        co_return checked.error();
    co_return co_await start(kinds, checked.value(), std::nullopt);
}

QCoro::Task<std::optional<QString>> TimedSessionController::start(
    qint64 kinds, QDateTime end, std::optional<std::chrono::milliseconds> length)
{
    QPointer<TimedSessionController> self(this);
    qint64 turnedOn = 0;
    std::optional<QString> failure;
    for (const AssertionKind kind : allAssertionKinds) {
        const QPointer<PowerToggling> power = m_power;
        if (!power) {
            failure = endingText();
            break;
        }
        if (!(kinds & assertionBit(kind)) || power->isAskedFor(kind))
            continue;
        const auto result = co_await power->setEnabled(true, kind);
        if (!self)
            co_return endingText();
        if (!result) {
            failure = result.error();
            break;
        }
        turnedOn |= assertionBit(kind);
    }
    if (failure) {
        // All or nothing: what this request turned on goes off again.
        co_await turnOff(turnedOn);
        co_return failure;
    }
    m_session.start(kinds, turnedOn, end);
    if (length)
        m_deadline = m_elapsed() + *length;
    else
        m_deadline.reset();
    qCInfo(lcTimedSession, "Kinds %lld on until %s", kinds, qUtf8Printable(end.toString(Qt::ISODate)));
    arm();
    Q_EMIT didChange();
    co_return std::nullopt;
}

QCoro::Task<bool> TimedSessionController::turnOff(qint64 kinds)
{
    QPointer<TimedSessionController> self(this);
    bool allOff = true;
    for (const AssertionKind kind : allAssertionKinds) {
        const QPointer<PowerToggling> power = m_power;
        if (!(kinds & assertionBit(kind)) || !power || !power->isAskedFor(kind))
            continue;
        const auto result = co_await power->setEnabled(false, kind);
        if (!self)
            co_return false;
        if (!result) {
            // The controller keeps the kind held and says so; the next switch retries.
            qCWarning(lcTimedSession, "Cannot turn kind %lld off at the session's end: %s", rawValue(kind),
                qUtf8Printable(result.error()));
            allOff = false;
        }
    }
    co_return allOff;
}

QCoro::Task<> TimedSessionController::checkEnd()
{
    if (m_ending || !m_session.isRunning())
        co_return;
    if (const auto left = lengthLeft(); left && left->count() > 0) {
        // The wall clock may have moved: the end it shows follows the length left.
        const QDateTime end = m_now().addMSecs(left->count());
        const bool moved = std::abs(end.msecsTo(*m_session.endsAt())) >= 1000;
        if (moved)
            m_session.start(m_session.kinds(), 0, end);
        arm();
        if (moved)
            Q_EMIT didChange();
        co_return;
    }
    if (!m_deadline && !m_session.hasEnded(m_now())) {
        arm();
        co_return;
    }
    QPointer<TimedSessionController> self(this);
    m_ending = true;
    m_timer.stop();
    m_deadline.reset();
    const qint64 kinds = m_session.kinds();
    const qint64 turnedOn = m_session.stop();
    qCInfo(lcTimedSession, "The session of kinds %lld has ended", kinds);
    co_await turnOff(turnedOn);
    if (!self)
        co_return;
    m_ending = false;
    Q_EMIT didChange();
    Q_EMIT sessionEnded(kinds);
}

QCoro::Task<> TimedSessionController::cancel()
{
    if (m_ending || !m_session.isRunning())
        co_return;
    QPointer<TimedSessionController> self(this);
    m_ending = true;
    m_timer.stop();
    m_deadline.reset();
    const qint64 turnedOn = m_session.stop();
    co_await turnOff(turnedOn);
    if (!self)
        co_return;
    m_ending = false;
    Q_EMIT didChange();
}

void TimedSessionController::powerChanged()
{
    // While a session runs every kind it covers is on; one found off was
    // switched off by someone else (a switch, a condition, a lost inhibitor).
    // Our own toggles never do that: they turn covered kinds on, and off only
    // once the session is over. Kinds it does not cover are none of its business.
    const QPointer<PowerToggling> power = m_power;
    if (!power || !m_session.isRunning())
        return;
    for (const AssertionKind kind : allAssertionKinds) {
        if ((m_session.kinds() & assertionBit(kind)) && !power->isAskedFor(kind)) {
            takeOver();
            return;
        }
    }
}

void TimedSessionController::takeOver()
{
    if (m_ending || !m_session.isRunning())
        return;
    qCInfo(lcTimedSession, "A switch changed the held kinds: the timed session is over, the kinds stay as they are");
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
    const qint64 remaining = std::clamp<qint64>(left ? left->count() : m_now().msecsTo(*end), 0, longestWait.count());
    m_timer.start(std::chrono::milliseconds(remaining));
}

std::optional<std::chrono::milliseconds> TimedSessionController::lengthLeft() const
{
    if (!m_deadline)
        return std::nullopt;
    return *m_deadline - m_elapsed();
}
