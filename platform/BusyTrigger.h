#pragma once

#include "Trigger.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

// The kernel's counters the busy trigger compares from one sample to the
// next, read under a proc root (/proc, or a tree of a test's own).
struct BusyCounters {
    // Bytes received and sent so far, per interface but loopback.
    QHash<QString, quint64> interfaceBytes;
    // Jiffies of all CPUs: spent working, and in all; absent when unreadable.
    std::optional<quint64> cpuBusy;
    std::optional<quint64> cpuTotal;

    static BusyCounters read(const QString &proc);
};

// Bytes per second moved between two readings `seconds` apart, summed over
// the interfaces in both. An interface that appeared or vanished, or whose
// counter went back (reset, wrapped, renamed), adds nothing this time.
double networkRate(const BusyCounters &before, const BusyCounters &after, double seconds);
// The share of all CPUs in use between two readings, in percent; absent
// when either could not be read or no time passed in between.
std::optional<double> cpuShare(const BusyCounters &before, const BusyCounters &after);

// While the machine is busy: network traffic above a rate, or CPU use above
// a share, held for a settle time; it ends once both stayed below for the
// same time. The one trigger that samples: every interval, only while started.
class BusyTrigger : public Trigger
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultInterval{ 10000 };
    static constexpr qint64 defaultBytesPerSecond = 100000;
    static constexpr int defaultCpuPercent = 50;
    static constexpr std::chrono::seconds defaultSettle{ 120 };

    explicit BusyTrigger(QString proc = QStringLiteral("/proc"), std::chrono::milliseconds interval = defaultInterval,
        QObject *parent = nullptr);

    QString name() const override { return QStringLiteral("busy"); }
    qint64 defaultKinds() const override { return assertionBit(AssertionKind::systemSleep); }
    std::optional<QString> invalidOptions(const QVariantMap &options) const override;

    void start(const QVariantMap &options) override;
    void stop() override;

    bool isSampling() const { return m_timer.isActive(); }

private:
    void sample();

    QString m_proc;
    QTimer m_timer;
    qint64 m_bytesPerSecond = defaultBytesPerSecond;
    int m_cpuPercent = defaultCpuPercent;
    std::chrono::milliseconds m_settle = defaultSettle;

    QElapsedTimer m_clock;
    std::optional<BusyCounters> m_last;
    qint64 m_lastAt = 0;
    // Since when (on m_clock) the condition held, or stayed below, without a break.
    std::optional<qint64> m_busySince;
    std::optional<qint64> m_quietSince;
};
