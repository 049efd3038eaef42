#include "TimedSession.h"

#include "SessionLength.h"

Expected<QDateTime, QString> TimedSession::endAfter(const QDateTime &now, qint64 seconds)
{
    if (seconds <= 0 || seconds > SessionLength::longestSeconds)
        return Unexpected(invalidDuration());
    return now.addSecs(seconds);
}

Expected<QDateTime, QString> TimedSession::endAt(const QDateTime &now, const QDateTime &end)
{
    if (!end.isValid() || end <= now || now.secsTo(end) > SessionLength::longestSeconds)
        return Unexpected(invalidEndTime());
    return end;
}

void TimedSession::start(qint64 kinds, qint64 turnedOn, const QDateTime &end, bool thenSuspend)
{
    if (!isRunning()) {
        m_kinds = 0;
        m_turnedOn = 0;
    }
    m_kinds |= kinds;
    m_turnedOn |= turnedOn;
    m_endsAt = end;
    m_thenSuspend = thenSuspend;
}

qint64 TimedSession::remainingSeconds(const QDateTime &now) const
{
    if (!m_endsAt)
        return 0;
    const qint64 milliseconds = now.msecsTo(*m_endsAt);
    return milliseconds <= 0 ? 0 : (milliseconds + 999) / 1000;
}

qint64 TimedSession::stop()
{
    const qint64 turnedOn = m_turnedOn;
    m_kinds = 0;
    m_turnedOn = 0;
    m_endsAt.reset();
    m_thenSuspend = false;
    return turnedOn;
}
