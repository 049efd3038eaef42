#include "BusyTrigger.h"

#include <QFile>
#include <QLoggingCategory>

#include <utility>

// Every sample logs at debug level: off unless asked for.
Q_LOGGING_CATEGORY(lcBusyTrigger, "com.quorvel.WakoraApp.BusyTrigger", QtInfoMsg)

namespace {

constexpr qint64 secondsInADay = 24 * 60 * 60;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    // Files under /proc report no size: read to the end.
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// An integer option as stored (a number, or its text); absent when missing.
std::optional<qint64> integerOption(const QVariantMap &options, const QString &key, bool *wrong)
{
    const auto found = options.constFind(key);
    if (found == options.constEnd())
        return std::nullopt;
    bool ok = false;
    const qint64 value = found->toLongLong(&ok);
    const bool whole = found->typeId() != QMetaType::Double || found->toDouble() == double(value);
    if (!ok || !whole) {
        *wrong = true;
        return std::nullopt;
    }
    return value;
}

} // namespace

BusyCounters BusyCounters::read(const QString &proc)
{
    BusyCounters counters;
    // Two header lines, then "  name: rx-bytes rx-packets ... (8 receive fields) tx-bytes ...".
    const QList<QByteArray> lines = readAll(proc + QStringLiteral("/net/dev")).split('\n');
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon < 0)
            continue;
        const QString name = QString::fromUtf8(lines[i].left(colon).trimmed());
        const QList<QByteArray> fields = lines[i].mid(colon + 1).simplified().split(' ');
        if (name == QLatin1String("lo") || fields.size() < 9)
            continue;
        bool receivedOk = false;
        bool sentOk = false;
        const quint64 received = fields[0].toULongLong(&receivedOk);
        const quint64 sent = fields[8].toULongLong(&sentOk);
        if (receivedOk && sentOk)
            counters.interfaceBytes.insert(name, received + sent);
    }

    // "cpu  user nice system idle iowait irq softirq steal guest guest_nice":
    // guest time is counted in user time already.
    const QByteArray stat = readAll(proc + QStringLiteral("/stat"));
    const QByteArray first = stat.left(stat.indexOf('\n'));
    const QList<QByteArray> fields = first.simplified().split(' ');
    if (fields.size() >= 5 && fields[0] == "cpu") {
        quint64 total = 0;
        quint64 idle = 0;
        bool ok = true;
        for (qsizetype i = 1; i < fields.size() && i <= 8 && ok; ++i) {
            const quint64 value = fields[i].toULongLong(&ok);
            total += value;
            if (i == 4 || i == 5)
                idle += value;
        }
        if (ok) {
            counters.cpuBusy = total - idle;
            counters.cpuTotal = total;
        }
    }
    return counters;
}

double networkRate(const BusyCounters &before, const BusyCounters &after, double seconds)
{
    if (seconds <= 0)
        return 0;
    quint64 moved = 0;
    for (auto it = after.interfaceBytes.constBegin(); it != after.interfaceBytes.constEnd(); ++it) {
        const auto earlier = before.interfaceBytes.constFind(it.key());
        if (earlier != before.interfaceBytes.constEnd() && it.value() >= earlier.value())
            moved += it.value() - earlier.value();
    }
    return double(moved) / seconds;
}

std::optional<double> cpuShare(const BusyCounters &before, const BusyCounters &after)
{
    if (!before.cpuTotal || !after.cpuTotal || *after.cpuTotal <= *before.cpuTotal || *after.cpuBusy < *before.cpuBusy)
        return std::nullopt;
    const double busy = double(*after.cpuBusy - *before.cpuBusy);
    return 100.0 * busy / double(*after.cpuTotal - *before.cpuTotal);
}

BusyTrigger::BusyTrigger(QString proc, std::chrono::milliseconds interval, QObject *parent)
    : Trigger(parent)
    , m_proc(std::move(proc))
{
    m_timer.setInterval(interval);
    connect(&m_timer, &QTimer::timeout, this, &BusyTrigger::sample);
}

std::optional<QString> BusyTrigger::invalidOptions(const QVariantMap &options) const
{
    bool wrong = false;
    const auto net = integerOption(options, QStringLiteral("net"), &wrong);
    if (wrong || (net && *net < 1))
        return QStringLiteral("네트워크 기준은 초당 1바이트 이상의 정수여야 합니다");
    const auto cpu = integerOption(options, QStringLiteral("cpu"), &wrong);
    if (wrong || (cpu && (*cpu < 1 || *cpu > 100)))
        return QStringLiteral("CPU 기준은 1에서 100 사이의 퍼센트여야 합니다");
    const auto settle = integerOption(options, QStringLiteral("settle"), &wrong);
    if (wrong || (settle && (*settle < 1 || *settle > secondsInADay)))
        return QStringLiteral("유지 시간은 1초에서 24시간 사이여야 합니다");
    return std::nullopt;
}

void BusyTrigger::start(const QVariantMap &options)
{
    if (const auto why = invalidOptions(options)) {
        // The rule is checked before it is stored; a wrong one kept from
        // before is watched with the defaults rather than not at all.
        qCWarning(lcBusyTrigger) << "Options" << options << "are wrong, the defaults apply:" << *why;
    }
    bool wrong = false;
    m_bytesPerSecond = defaultBytesPerSecond;
    m_cpuPercent = defaultCpuPercent;
    m_settle = defaultSettle;
    if (!invalidOptions(options)) {
        m_bytesPerSecond = integerOption(options, QStringLiteral("net"), &wrong).value_or(defaultBytesPerSecond);
        m_cpuPercent = int(integerOption(options, QStringLiteral("cpu"), &wrong).value_or(defaultCpuPercent));
        m_settle = std::chrono::seconds(
            integerOption(options, QStringLiteral("settle"), &wrong).value_or(defaultSettle.count()));
    }
    if (m_timer.isActive())
        return; // new thresholds apply from the next sample on
    m_clock.start();
    m_last = BusyCounters::read(m_proc);
    m_lastAt = 0;
    m_timer.start();
}

void BusyTrigger::stop()
{
    m_timer.stop();
    m_last.reset();
    m_busySince.reset();
    m_quietSince.reset();
    clearActive();
}

void BusyTrigger::sample()
{
    const qint64 now = m_clock.elapsed();
    BusyCounters counters = BusyCounters::read(m_proc);
    const qint64 since = std::exchange(m_lastAt, now);
    const double rate = networkRate(*m_last, counters, double(now - since) / 1000.0);
    const std::optional<double> cpu = cpuShare(*m_last, counters);
    m_last = std::move(counters);

    const bool networkBusy = rate > double(m_bytesPerSecond);
    const bool cpuBusy = cpu && *cpu > double(m_cpuPercent);
    // The condition held (or not) over the whole interval since the last
    // sample: the settle time counts from its start. Samples fall only every
    // interval, so the time is reached at the sample nearest to it.
    const qint64 settle = m_settle.count() - m_timer.interval() / 2;
    if (networkBusy || cpuBusy) {
        m_quietSince.reset();
        if (!m_busySince)
            m_busySince = since;
        const QString subject = networkBusy ? QStringLiteral("네트워크") : QStringLiteral("CPU");
        if (isActive() || now - *m_busySince >= settle)
            setActive(true, subject);
    } else {
        m_busySince.reset();
        if (!m_quietSince)
            m_quietSince = since;
        if (isActive() && now - *m_quietSince >= settle)
            setActive(false);
    }
    qCDebug(lcBusyTrigger, "%.0f bytes/s, CPU %.1f %%: %s", rate, cpu.value_or(-1), isActive() ? "busy" : "not busy");
}
