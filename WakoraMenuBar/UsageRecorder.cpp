#include "UsageRecorder.h"

#include "UsageSampling.h"

#include <QCoreApplication>

UsageRecorder::UsageRecorder(PowerToggling *power, std::shared_ptr<PowerStatusReading> status,
    std::shared_ptr<RunningApplicationReading> applications, std::shared_ptr<UsageStore> store, Options options,
    QObject *parent)
    : QObject(parent)
    , m_power(power)
    , m_status(std::move(status))
    , m_applications(std::move(applications))
    , m_store(std::move(store))
    , m_ownPID(options.ownPID != 0 ? options.ownPID : qint32(QCoreApplication::applicationPid()))
{
    Q_ASSERT(m_power && m_status && m_applications && m_store);
    // Direct: each change is heard as it happens, so activeSince and the
    // clock are the change's own, and an on and off within one turn of the
    // event loop is still a session. The toggle's reply does not wait for
    // the disk: the store only hands the history to its writer's thread.
    connect(m_power, &PowerToggling::didChange, this, &UsageRecorder::powerChanged, Qt::DirectConnection);

    // QTimer runs on the monotonic clock, so changes of the wall clock
    // neither bunch nor stretch the samples.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(options.interval);
    connect(&m_timer, &QTimer::timeout, this, &UsageRecorder::tick);
    m_timer.start();
}

UsageRecorder::UsageRecorder(PowerToggling *power, std::shared_ptr<PowerStatusReading> status,
    std::shared_ptr<RunningApplicationReading> applications, std::shared_ptr<UsageStore> store, QObject *parent)
    : UsageRecorder(power, std::move(status), std::move(applications), std::move(store), Options{}, parent)
{ }

void UsageRecorder::powerChanged()
{
    if (!m_power)
        return;
    UsageSampling::powerChanged(m_power->activeSince(), m_store->now(), *m_store);
}

void UsageRecorder::finish()
{
    m_timer.stop();
    // Whatever the agent still holds is given back as its process ends.
    m_store->sessionEnded(m_store->now());
    m_store->flush();
}

void UsageRecorder::tick()
{
    // A query still running from the last tick owns this minute too; never
    // two samples at once.
    if (m_sampling)
        return;
    sample();
}

QCoro::Task<> UsageRecorder::sample()
{
    QPointer<UsageRecorder> self(this);
    const auto status = m_status; // the reader outlives this recorder if need be
    m_sampling = true;
    const auto assertions = co_await status->assertions();
    if (!self)
        co_return;
    m_sampling = false;
    if (!assertions)
        co_return; // this minute is skipped: no sample, lastSeen stays

    const auto lookup = [this](qint32 pid) { return appName(pid); };
    const QStringList names = UsageSampling::appNames(assertions.value(), m_ownPID, lookup);
    m_store->recordSample(names);
}

std::optional<QString> UsageRecorder::appName(qint32 pid) const
{
    const auto application = m_applications->application(pid);
    if (!application || !application->isRegular || !application->localizedName || application->localizedName->isEmpty())
        return std::nullopt;
    return application->localizedName;
}
