#pragma once

#include <QByteArray>
#include <QDateTime>

#include <chrono>
#include <optional>

// What a running agent hands to the agent that replaces it after an
// upgrade, so that nothing it keeps on lapses: the kinds the user's switch
// holds, the timed session and whether the lid-closed mode is the user's.
// Claims of `wakora hold` commands are not in it: they last as long as their
// caller's connection to the agent, which cannot move to another process.
//
// Kinds are bit sets as on the bus.
struct AgentHandoverState {
    struct TimedSession {
        qint64 kinds = 0;
        QDateTime endsAt; // UTC
        // The end of a length on CLOCK_BOOTTIME, which both agents share;
        // absent for a session that ends at a clock time.
        std::optional<std::chrono::milliseconds> deadlineSinceBoot;
        bool thenSuspend = false; // the session ends by suspending the machine
        bool operator==(const TimedSession &) const = default;
    };

    qint64 switchKinds = 0;
    std::optional<TimedSession> timedSession;
    bool lidClosedMode = false;

    bool operator==(const AgentHandoverState &) const = default;

    static constexpr int formatVersion = 1;

    // One JSON object: {"version":1,"switch":3,"timedSession":{"kinds":1,
    // "endsAt":"2026-12-10T06:00:00.000Z","deadlineSinceBootMs":123456,
    // "thenSuspend":true},
    // "lidClosedMode":true}.
    QByteArray toJson() const;
    // Absent for anything else than what toJson() writes (another version,
    // kinds out of range, a missing or unreadable end).
    static std::optional<AgentHandoverState> fromJson(const QByteArray &json);
};
