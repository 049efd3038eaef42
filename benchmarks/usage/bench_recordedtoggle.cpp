// What recording a toggle costs the agent's main thread, with the history
// written synchronously on the main thread (as the store once did: JSON, then
// QSaveFile with its fdatasync and rename) and handed to the writer's thread
// (as it does now). The toggles go to in-memory assertions, so only the
// history's part differs. Prints, for a fresh history and a full 30 days:
// the time of one toggle (p50, p99 over 500), and the longest and p99 gap of
// a 1 ms heartbeat timer while 500 toggles run from the event loop.
//
// The history lives in a temporary folder under $TMPDIR (or /tmp); point
// TMPDIR at the disk to measure, as a tmpfs makes every sync free.

#include "BenchTiming.h"
#include "FakePowerControl.h"
#include "FakePowerStatus.h"
#include "FakeRunningApplications.h"
#include "PowerController.h"
#include "UsageRecorder.h"
#include "UsageStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace std::chrono_literals;

namespace {

constexpr int toggles = 500;

// 30 days of 2,000 five-minute sessions and 50 applications a day, as in bench_usagestore.
UsageStore::Contents fullHistory(const QDateTime &now)
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    UsageStore::Contents contents;
    const QDateTime first = now.addSecs(-29 * 86400);
    for (int index = 0; index < 2000; ++index) {
        const QDateTime start = first.addSecs(index * (29 * 86400 / 2000));
        contents.sessions.append({ start, start.addSecs(300) });
    }
    for (int day = 0; day < 30; ++day) {
        QMap<QString, qint64> apps;
        for (int app = 0; app < 50; ++app)
            apps.insert(QStringLiteral("Application %1").arg(app), 10 + app);
        contents.appMinutes.insert(now.toTimeZone(zone).date().addDays(-day).startOfDay(zone).toUTC(), apps);
    }
    contents.lastSeen = now;
    return contents;
}

// What every change cost the main thread before the writer's thread.
bool saveAsBefore(const QString &path, const UsageStore::Contents &contents)
{
    const QByteArray bytes = contents.toJson();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

enum class Mode { bare, synchronous, writerThread };

// A controller and, unless bare, a recorder and a store on a real file.
struct Agent {
    Agent(Mode mode, const QString &path, bool full)
        : control(std::make_shared<FakePowerControl>())
        , power(control)
    {
        if (mode == Mode::bare)
            return;
        if (full && !UsageWriter::writeAtomically(path, fullHistory(QDateTime::currentDateTimeUtc()).toJson()))
            std::abort();
        // Before: the store's own writer stays idle (it would wait an hour)
        // and every change is written here, on the main thread, as it was.
        UsageWriter::Options writer;
        if (mode == Mode::synchronous)
            writer.coalesceDelay = 1h;
        store = std::make_shared<UsageStore>(path, &QDateTime::currentDateTimeUtc, QTimeZone::systemTimeZone(), writer);
        recorder = std::make_unique<UsageRecorder>(&power,
            std::make_shared<FakePowerStatus>(QList<ProcessAssertion>(), QList<PowerSetting>()),
            std::make_shared<FakeRunningApplications>(), store, UsageRecorder::Options{ 1h, 0 });
        if (mode == Mode::synchronous) {
            QObject::connect(&power, &PowerToggling::didChange, &power, [this, path] {
                if (!saveAsBefore(path, store->contents()))
                    std::abort();
            });
        }
    }

    // One toggle; over the fake it ends before it returns.
    void toggle()
    {
        enabled = !enabled;
        auto task = power.toggle(enabled, AssertionKind::systemSleep);
        if (!task.isReady())
            std::abort();
    }

    std::shared_ptr<FakePowerControl> control;
    PowerController power;
    std::shared_ptr<UsageStore> store;
    std::unique_ptr<UsageRecorder> recorder;
    bool enabled = false;
};

// The gaps between ticks of a 1 ms timer while the event loop runs
// `toggles` toggles, one every 2 ms.
struct Stall {
    double longest = 0; // ms
    double p99 = 0; // ms
};

Stall heartbeatGaps(Agent &agent)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QList<qint64> gaps;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1ms);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 tick = clock.nsecsElapsed();
        gaps.append(tick - last);
        last = tick;
    });
    QEventLoop loop;
    int done = 0;
    QTimer driver;
    driver.setTimerType(Qt::PreciseTimer);
    driver.setInterval(2ms);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        agent.toggle();
        if (++done == toggles)
            loop.quit();
    });
    heartbeat.start();
    driver.start();
    loop.exec();
    std::sort(gaps.begin(), gaps.end());
    return { double(gaps.constLast()) / 1e6, double(gaps.at(gaps.size() * 99 / 100)) / 1e6 };
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    std::printf("history in %s\n", qUtf8Printable(folder.path()));

    const struct {
        Mode mode;
        const char *name;
    } modes[] = {
        { Mode::bare, "toggle, nothing recorded" },
        { Mode::synchronous, "recorded, main-thread write (before)" },
        { Mode::writerThread, "recorded, handed to the writer (after)" },
    };
    for (const bool full : { false, true }) {
        std::printf("\n%s history:\n", full ? "full 30-day (2,000 sessions)" : "fresh");
        for (const auto &[mode, name] : modes) {
            if (full && mode == Mode::bare)
                continue;
            const QString path = folder.filePath(QStringLiteral("%1-%2/usage.json").arg(int(mode)).arg(full));
            {
                Agent agent(mode, path, full);
                reportTiming(
                    name, toggles, [&] { agent.toggle(); }, 1, "us");
            }
            Agent agent(mode, path, full);
            const Stall stall = heartbeatGaps(agent);
            std::printf("    1 ms heartbeat over %d toggles: longest gap %.3f ms, p99 %.3f ms\n", toggles,
                stall.longest, stall.p99);
            if (agent.store && !agent.store->flush())
                return 1;
        }
    }
    return 0;
}
