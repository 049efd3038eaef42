#pragma once

#include "PowerStatusReading.h"
#include "PowerToggling.h"
#include "RunningApplicationReading.h"
#include "UsageStore.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>

// Fills the usage history while the agent runs: keep-awake sessions follow
// the power controller's didChange(), heard as each change happens, and once
// a minute the applications holding the machine awake each get a minute for
// today. Main thread only.
class UsageRecorder : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds sampleInterval{ 60'000 };

    struct Options {
        std::chrono::milliseconds interval = sampleInterval;
        qint32 ownPID = 0; // 0: this process
    };

    // The first sample comes one interval after creation. No session is
    // opened here: the controller's first change opens one.
    UsageRecorder(PowerToggling *power, std::shared_ptr<PowerStatusReading> status,
        std::shared_ptr<RunningApplicationReading> applications, std::shared_ptr<UsageStore> store, Options options,
        QObject *parent = nullptr);
    UsageRecorder(PowerToggling *power, std::shared_ptr<PowerStatusReading> status,
        std::shared_ptr<RunningApplicationReading> applications, std::shared_ptr<UsageStore> store,
        QObject *parent = nullptr);

    // Shared with the request service, which answers summary and clear from it.
    const std::shared_ptr<UsageStore> &store() const { return m_store; }

    // One sample: the current assertions, named and recorded. A failed query
    // records nothing, so that minute is skipped. What every tick runs.
    QCoro::Task<> sample();

    // The agent is ending: the running session closes now, as the process's
    // end gives back whatever it holds, and the history is written before
    // this returns (UsageStore::flush()).
    void finish();

public Q_SLOTS:
    // Opens or closes the session as the controller changes.
    void powerChanged();

private:
    void tick();
    std::optional<QString> appName(qint32 pid) const;

    QPointer<PowerToggling> m_power;
    std::shared_ptr<PowerStatusReading> m_status;
    std::shared_ptr<RunningApplicationReading> m_applications;
    std::shared_ptr<UsageStore> m_store;
    qint32 m_ownPID;
    QTimer m_timer;
    bool m_sampling = false;
};
