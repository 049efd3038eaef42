#pragma once

// How often a process's threads woke and how much CPU it used, from /proc.
// A thread counts a voluntary switch each time it blocks again after a
// wake-up, and an involuntary one each time the scheduler takes the core
// from it; /proc/PID/status tells only the main thread's, so every thread of
// /proc/PID/task is read.

#include <QDir>
#include <QFile>
#include <QHash>

#include <unistd.h>

namespace ProcessWakeups {

struct ThreadSwitches {
    quint64 voluntary = 0;
    quint64 involuntary = 0;
};

struct Snapshot {
    bool valid = false; // false when the process is gone or /proc unreadable
    QHash<qint64, ThreadSwitches> threads; // by thread id
    double cpuSeconds = 0; // utime + stime of all threads, living and ended
};

// The switches of one thread from the text of its status file.
inline ThreadSwitches parseStatus(const QByteArray &status)
{
    ThreadSwitches switches;
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:"))
            switches.voluntary = line.mid(line.indexOf(':') + 1).trimmed().toULongLong();
        else if (line.startsWith("nonvoluntary_ctxt_switches:"))
            switches.involuntary = line.mid(line.indexOf(':') + 1).trimmed().toULongLong();
    }
    return switches;
}

// utime + stime in seconds from the text of a stat file. The command name in
// parentheses may hold spaces and parentheses, so fields count from the last
// ')'; utime and stime are fields 14 and 15 of the whole line.
inline double parseCpuSeconds(const QByteArray &stat)
{
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline Snapshot snapshot(qint64 pid, const QString &procRoot = QStringLiteral("/proc"))
{
    Snapshot result;
    const QString base = QStringLiteral("%1/%2").arg(procRoot).arg(pid);
    const QByteArray stat = readAll(base + QStringLiteral("/stat"));
    if (stat.isEmpty())
        return result;
    result.cpuSeconds = parseCpuSeconds(stat);
    const QStringList tasks = QDir(base + QStringLiteral("/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        const QByteArray status = readAll(QStringLiteral("%1/task/%2/status").arg(base, task));
        if (!status.isEmpty()) // a thread that ended between listing and reading
            result.threads.insert(task.toLongLong(), parseStatus(status));
    }
    result.valid = !result.threads.isEmpty();
    return result;
}

struct Difference {
    quint64 voluntary = 0;
    quint64 involuntary = 0;
    double cpuSeconds = 0;
    int threadsStarted = 0; // not there at the start: counted from zero
    int threadsEnded = 0; // gone at the end: their switches in between are lost
    quint64 wakeups() const { return voluntary + involuntary; }
};

// What happened between two snapshots of one process.
inline Difference difference(const Snapshot &before, const Snapshot &after)
{
    Difference result;
    result.cpuSeconds = after.cpuSeconds - before.cpuSeconds;
    for (auto it = after.threads.cbegin(); it != after.threads.cend(); ++it) {
        const auto earlier = before.threads.constFind(it.key());
        // Fewer switches than before: the id was ended and given to a new thread.
        if (earlier == before.threads.cend() || it->voluntary < earlier->voluntary
            || it->involuntary < earlier->involuntary) {
            ++result.threadsStarted;
            result.voluntary += it->voluntary;
            result.involuntary += it->involuntary;
        } else {
            result.voluntary += it->voluntary - earlier->voluntary;
            result.involuntary += it->involuntary - earlier->involuntary;
        }
    }
    for (auto it = before.threads.cbegin(); it != before.threads.cend(); ++it) {
        if (!after.threads.contains(it.key()))
            ++result.threadsEnded;
    }
    return result;
}

} // namespace ProcessWakeups
