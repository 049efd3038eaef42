#pragma once

#include "Expected.h"
#include "UsageSummary.h"
#include "UsageWriter.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QStringList>
#include <QTimeZone>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// The keep-awake history of the last 30 days, kept in one JSON file: the
// sessions during which keep-awake was on, and per calendar day the minutes
// each application was sampled holding the machine awake.
//
// Main thread only. Every change is handed to a UsageWriter, which writes the
// newest history from its own thread within a second, so no change waits for
// the disk. Write failures never reach callers (the in-memory history stays
// authoritative and is written again later), and a file that cannot be used
// is moved aside so the history can start over without losing it.
class UsageStore
{
public:
    using Clock = std::function<QDateTime()>;

    struct Session {
        QDateTime start;
        std::optional<QDateTime> end; // absent while keep-awake is on

        bool operator==(const Session &) const = default;
    };

    // The whole of usage.json.
    struct Contents {
        QList<Session> sessions; // oldest first; only the last may be open
        QMap<QDateTime, QMap<QString, qint64>> appMinutes; // day start -> name -> minutes
        std::optional<QDateTime> lastSeen; // when anything was last recorded

        // {"sessions":[{"start":s,"end":s}],"appMinutes":[day,{name:minutes},…],"lastSeen":s}
        // with points in time as seconds since 2001-01-01 UTC.
        QByteArray toJson() const;
        static Expected<Contents, QString> fromJson(const QByteArray &json);

        bool operator==(const Contents &) const = default;
    };

    static constexpr qint64 retentionSeconds = 30 * 24 * 60 * 60;
    // Larger than any history of 30 days could grow; bigger files are set aside unread.
    static constexpr qint64 maximumFileSize = 64 * 1024 * 1024;
    // summary() never builds more days than this (about a century).
    static constexpr int maximumSummaryDays = 36525;

    // The user's data folder + "Wakora/usage.json" (normally
    // ~/.local/share/Wakora/usage.json); empty when the platform names none.
    static QString defaultPath();
    // The set-aside name: the path with ".corrupt" appended.
    static QString asidePath(const QString &path);

    // Loads the file (setting an unusable one aside), closes a session left
    // open by an earlier run, prunes and saves. An empty path keeps the
    // history in memory only. The time zone defines the calendar days.
    explicit UsageStore(QString path, Clock now = &QDateTime::currentDateTimeUtc,
        QTimeZone timeZone = QTimeZone::systemTimeZone(), UsageWriter::Options writer = {});
    // Writes what is still pending before it goes (UsageWriter's destructor).
    ~UsageStore();
    UsageStore(const UsageStore &) = delete;
    UsageStore &operator=(const UsageStore &) = delete;

    const QString &path() const { return m_path; }
    const Contents &contents() const { return m_contents; }
    // The store's clock: the time samples and summaries count as now.
    QDateTime now() const { return m_now(); }

    // Opens a session at `start` unless one is open. It never starts before
    // the previous session ended, so sessions never overlap.
    void sessionStarted(const QDateTime &start);
    // Closes the open session at `end` (never before its start), if any;
    // otherwise changes and writes nothing.
    void sessionEnded(const QDateTime &end);
    // One minute for today to each distinct non-empty name, then prune and save.
    void recordSample(const QStringList &apps);
    // Erases the history; a running session goes on, restarted now.
    void clear();
    // The last `days` calendar days, oldest first, ending today, and the
    // `topApps` applications with the most minutes over those days (most
    // first, ties by name). A negative count counts as 0.
    UsageSummary summary(int days, int topApps) const;

    // Writes the history at once and waits for it (at quit): true when the
    // file holds it, and always true without a file.
    bool flush(std::chrono::milliseconds timeout = UsageWriter::flushTimeout);

private:
    void load();
    void setAside() const;
    void closeInterruptedSessions();
    void prune(const QDateTime &now);
    void save();
    QDateTime startOfDay(const QDateTime &time) const;

    QString m_path;
    Clock m_now;
    QTimeZone m_timeZone;
    Contents m_contents;
    std::unique_ptr<UsageWriter> m_writer; // none without a path
};
