#pragma once

#include "Expected.h"

#include <QDateTime>
#include <QString>

#include <optional>

// A keep-awake session that ends by itself: which kinds it keeps on, which of
// them it turned on itself (the ones it turns off again at its end; a kind
// that was already on stays on), when it ends and whether the machine is
// put to sleep then (the latest start says so). Pure bookkeeping: the agent
// does the toggling and owns the clock.
//
// Kinds are bit sets as on the bus: bit (1 << raw value) per AssertionKind.
class TimedSession
{
public:
    // The request texts a peer is shown, in English like "Invalid kind".
    static QString invalidKinds() { return QStringLiteral("Invalid kinds"); }
    static QString invalidDuration() { return QStringLiteral("Invalid duration"); }
    static QString invalidEndTime() { return QStringLiteral("Invalid end time"); }

    // A non-empty set of the two kinds.
    static bool isValidKinds(qint64 kinds) { return kinds >= 1 && kinds <= 3; }
    // The end of a session of that many seconds from now.
    static Expected<QDateTime, QString> endAfter(const QDateTime &now, qint64 seconds);
    // A requested end: after now and no further off than the longest session.
    static Expected<QDateTime, QString> endAt(const QDateTime &now, const QDateTime &end);

    bool isRunning() const { return m_endsAt.has_value(); }
    qint64 kinds() const { return m_kinds; }
    qint64 turnedOn() const { return m_turnedOn; }
    std::optional<QDateTime> endsAt() const { return m_endsAt; }
    // Whether the machine is suspended when the time runs out.
    bool thenSuspend() const { return m_thenSuspend; }

    // Starts a session, or moves the end of the running one and adds to it:
    // what either turned on is turned off at the new end. The latest start
    // says whether the machine sleeps at the end.
    void start(qint64 kinds, qint64 turnedOn, const QDateTime &end, bool thenSuspend = false);
    // Seconds left, rounded up, so "1 s left" shows until the very end; 0 once over.
    qint64 remainingSeconds(const QDateTime &now) const;
    bool hasEnded(const QDateTime &now) const { return m_endsAt && now >= *m_endsAt; }
    // Forgets the session without touching any kind; answers what it had
    // turned on, for whoever ends it to turn off.
    qint64 stop();

private:
    qint64 m_kinds = 0;
    qint64 m_turnedOn = 0;
    std::optional<QDateTime> m_endsAt;
    bool m_thenSuspend = false;
};
