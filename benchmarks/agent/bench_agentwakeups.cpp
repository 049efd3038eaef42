// How often the agent wakes, and what CPU it uses, in four states: nothing
// held and no rule; both kinds held; a "while an application runs" rule with
// the application not running; and with it running. With --baseline DIR the
// agent of another build prefix runs beside this build's, each on buses and
// in a home of its own, so the two columns see the same machine at the same
// time.
//
// Wake-ups are every context switch of every thread of the agent over the
// window; each agent is driven by its own prefix's wakora command, which it
// admits as its own. A window shorter than the default minute catches a
// once-a-minute timer (the usage sample) in some states and not in others.
//
// "this build, every trigger" has every trigger set before the first state
// (media, fullscreen, remote, busy, and a schedule whose hours are not now)
// while nothing they watch happens: no player, no fullscreen window, no
// remote login, an idle machine. Its column beside "this build" is what the
// triggers cost: nothing, but for the busy trigger's samples every 10 s.

#include "AgentHarness.h"
#include "ProcessWakeups.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTime>
#include <QTimer>

#include <array>
#include <cstdio>
#include <functional>
#include <optional>

namespace {

const QString standinEntryId = QStringLiteral("org.example.WakeupsStandin");

struct State {
    const char *name;
    const char *target;
};

constexpr std::array<State, 4> states{ {
    { "1 nothing held, no rule", "0" },
    { "2 both kinds held", "<= 1 (usage sample)" },
    { "3 app rule, app not running", "0" },
    { "4 app rule, app running", "<= 1 (usage sample)" },
} };

void wait(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitUntil(const std::function<bool()> &condition, int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        wait(50);
    }
    return true;
}

struct Figures {
    double wakeupsPerMinute = 0;
    double burstsPerMinute = 0; // separate wakings: switches within one look count once
    double voluntaryPerMinute = 0;
    double involuntaryPerMinute = 0;
    double cpuMillisecondsPerMinute = 0;
    int threads = 0;
    int threadsStarted = 0;
    int threadsEnded = 0;
};

// One agent under measurement, with its buses, home and stand-in application.
struct Agent {
    QString label;
    std::unique_ptr<AgentHarness> harness = std::make_unique<AgentHarness>();
    QString standinProgram;
    QProcess standin;
    ProcessWakeups::Snapshot before;
    QElapsedTimer windowClock;
    // A stand-in unit tree the agent follows (--app-units), where the
    // stand-in's start is also its unit's directory; empty for none.
    std::unique_ptr<QTemporaryDir> units;
    QString unitPath() const
    {
        return units->filePath(QStringLiteral("app.slice/app-gnome-") + standinEntryId + QStringLiteral("-4711.scope"));
    }
    // Bursts: looks every pollMilliseconds that found switches after a
    // look that found none.
    quint64 lastSwitches = 0;
    bool inBurst = false;
    int bursts = 0;
    std::array<std::optional<Figures>, states.size()> figures;
    bool broken = false; // it failed to enter a state: the rest are not measured
    bool everyTrigger = false;

    qint64 pid() const { return harness->agent ? harness->agent->processId() : 0; }

    // The stand-in: a copy of sleep(1) of its own, and a desktop entry whose
    // Exec is that copy, so the agent knows its process by its executable.
    QString prepareStandin()
    {
        standinProgram = harness->home.filePath(QStringLiteral("bin/wakora-wakeups-standin"));
        const QString sleep = QStandardPaths::findExecutable(QStringLiteral("sleep"));
        if (sleep.isEmpty() || !QDir().mkpath(QFileInfo(standinProgram).path()) || !QFile::copy(sleep, standinProgram)
            || !QFile::setPermissions(standinProgram, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return QStringLiteral("cannot copy sleep to %1").arg(standinProgram);
        const QString entries = harness->home.filePath(QStringLiteral("data/applications"));
        QFile entry(entries + u'/' + standinEntryId + QStringLiteral(".desktop"));
        if (!QDir().mkpath(entries) || !entry.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write %1").arg(entry.fileName());
        entry.write("[Desktop Entry]\nType=Application\nName=Wakeups Standin\nExec=" + QFile::encodeName(standinProgram)
            + " 3600\n");
        return QString();
    }

    QString wakora(const QStringList &arguments)
    {
        QByteArray output;
        const int status = harness->wakora(arguments, &output);
        if (status == 0)
            return QString();
        return QStringLiteral("wakora %1 ended with %2: %3")
            .arg(arguments.join(u' '))
            .arg(status)
            .arg(QString::fromUtf8(output).trimmed());
    }

    QString waitForInhibitors(qsizetype count)
    {
        if (waitUntil([&] { return harness->inhibitors().size() == count; }, 10000))
            return QString();
        return QStringLiteral("expected %1 inhibitors, the logind mock has %2")
            .arg(count)
            .arg(harness->inhibitors().size());
    }

    // Sets every trigger the agent offers; empty on success.
    QString setEveryTrigger()
    {
        // Hours that are not now: the schedule waits for its next edge.
        const int hour = (QTime::currentTime().hour() + 12) % 24;
        const QString schedule = QStringLiteral("daily %1:00-%2:00")
                                     .arg(hour, 2, 10, QLatin1Char('0'))
                                     .arg(hour + 1, 2, 10, QLatin1Char('0'));
        const QList<QStringList> rules = {
            { QStringLiteral("media"), QStringLiteral("on") },
            { QStringLiteral("fullscreen"), QStringLiteral("on") },
            { QStringLiteral("remote"), QStringLiteral("on") },
            { QStringLiteral("busy"), QStringLiteral("on") },
            { QStringLiteral("schedule"), schedule },
        };
        for (const QStringList &rule : rules) {
            if (QString why = wakora(QStringList{ QStringLiteral("rule") } + rule); !why.isEmpty())
                return why;
        }
        return QString();
    }

    // Moves the agent into a state from the one before it; empty on success.
    QString enter(std::size_t state)
    {
        switch (state) {
        case 0:
            return waitForInhibitors(0);
        case 1:
            if (QString why = wakora({ QStringLiteral("on"), QStringLiteral("--display") }); !why.isEmpty())
                return why;
            return waitForInhibitors(2);
        case 2:
            if (QString why = wakora({ QStringLiteral("off"), QStringLiteral("--display") }); !why.isEmpty())
                return why;
            if (QString why = wakora({ QStringLiteral("rule"), QStringLiteral("app"), standinEntryId }); !why.isEmpty())
                return why;
            return waitForInhibitors(0);
        case 3:
            if (units && !QDir().mkpath(unitPath()))
                return QStringLiteral("cannot make %1").arg(unitPath());
            standin.start(standinProgram, { QStringLiteral("3600") });
            if (!standin.waitForStarted())
                return QStringLiteral("the stand-in did not start: %1").arg(standin.errorString());
            return waitForInhibitors(1); // the rule's kind: system sleep
        }
        return QStringLiteral("no such state");
    }

    static quint64 switches(const ProcessWakeups::Snapshot &snapshot)
    {
        quint64 total = 0;
        for (const auto &thread : snapshot.threads)
            total += thread.voluntary + thread.involuntary;
        return total;
    }

    void startWindow()
    {
        before = ProcessWakeups::snapshot(pid());
        lastSwitches = switches(before);
        inBurst = false;
        bursts = 0;
        windowClock.start();
    }

    void poll()
    {
        const quint64 now = switches(ProcessWakeups::snapshot(pid()));
        const bool woke = now > lastSwitches;
        if (woke && !inBurst)
            ++bursts;
        inBurst = woke;
        lastSwitches = now;
    }

    void endWindow(std::size_t state)
    {
        const ProcessWakeups::Snapshot after = ProcessWakeups::snapshot(pid());
        const double minutes = double(windowClock.nsecsElapsed()) / 60e9;
        if (!before.valid || !after.valid || harness->agent->state() != QProcess::Running) {
            std::fprintf(stderr, "%s: the agent is gone\n%s\n", qPrintable(label), qPrintable(harness->agentLog()));
            broken = true;
            return;
        }
        const ProcessWakeups::Difference difference = ProcessWakeups::difference(before, after);
        Figures result;
        result.wakeupsPerMinute = double(difference.wakeups()) / minutes;
        result.burstsPerMinute = double(bursts) / minutes;
        result.voluntaryPerMinute = double(difference.voluntary) / minutes;
        result.involuntaryPerMinute = double(difference.involuntary) / minutes;
        result.cpuMillisecondsPerMinute = difference.cpuSeconds * 1000.0 / minutes;
        result.threads = int(after.threads.size());
        result.threadsStarted = difference.threadsStarted;
        result.threadsEnded = difference.threadsEnded;
        figures.at(state) = result;
        std::printf("%-30s %-16s %8.1f wake-ups/min (voluntary %.1f, involuntary %.1f) in %.1f bursts   "
                    "CPU %7.2f ms/min   %d threads (+%d -%d)\n",
            states.at(state).name, qPrintable(label), result.wakeupsPerMinute, result.voluntaryPerMinute,
            result.involuntaryPerMinute, result.burstsPerMinute, result.cpuMillisecondsPerMinute, result.threads,
            result.threadsStarted, result.threadsEnded);
        std::fflush(stdout);
    }

    void stop()
    {
        if (standin.state() != QProcess::NotRunning) {
            standin.kill();
            standin.waitForFinished(5000);
        }
        harness->stopAgent();
    }
};

QString cell(const std::optional<Figures> &figures)
{
    if (!figures)
        return QStringLiteral("-");
    return QStringLiteral("%1 in %2 (%3 ms)")
        .arg(figures->wakeupsPerMinute, 0, 'f', 1)
        .arg(figures->burstsPerMinute, 0, 'f', 1)
        .arg(figures->cpuMillisecondsPerMinute, 0, 'f', 1);
}

int usage(const char *why)
{
    std::fprintf(stderr, "%s\nusage: bench_agentwakeups [--seconds N] [--baseline BUILD_PREFIX]\n", why);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    int seconds = 60;
    std::optional<ProgramLocations> baseline;
    const QStringList arguments = application.arguments();
    for (qsizetype at = 1; at < arguments.size(); ++at) {
        if (arguments.at(at) == u"--seconds" && at + 1 < arguments.size()) {
            bool ok = false;
            seconds = arguments.at(++at).toInt(&ok);
            if (!ok || seconds < 1)
                return usage("--seconds needs a whole number of seconds, 1 or more");
        } else if (arguments.at(at) == u"--baseline" && at + 1 < arguments.size()) {
            baseline = ProgramLocations(QDir(arguments.at(++at)).absolutePath());
            if (!QFileInfo(baseline->agent()).isExecutable() || !QFileInfo(baseline->commandLine()).isExecutable())
                return usage("--baseline names no build prefix with libexec/wakora/WakoraMenuBar and bin/wakora");
        } else {
            return usage(qPrintable(QStringLiteral("unknown argument %1").arg(arguments.at(at))));
        }
    }
    constexpr int settleMilliseconds = 2500;

    std::vector<std::unique_ptr<Agent>> agents;
    agents.push_back(std::make_unique<Agent>());
    agents.back()->label = QStringLiteral("this build");
    // The same build, where the desktop starts applications in units of
    // their own (GNOME, Plasma, Flatpak): a stand-in unit tree, as this
    // machine may have no user manager.
    agents.push_back(std::make_unique<Agent>());
    agents.back()->label = QStringLiteral("this build, units");
    agents.back()->units = std::make_unique<QTemporaryDir>();
    if (!QDir().mkpath(agents.back()->units->filePath(QStringLiteral("app.slice"))))
        return usage("cannot make a stand-in unit tree");
    agents.back()->harness->agentArguments = { QStringLiteral("--app-units"), agents.back()->units->path() };
    agents.push_back(std::make_unique<Agent>());
    agents.back()->label = QStringLiteral("this build, every trigger");
    agents.back()->everyTrigger = true;
    if (baseline) {
        agents.push_back(std::make_unique<Agent>());
        agents.back()->label = QStringLiteral("baseline");
        agents.back()->harness->programs = *baseline;
    }
    for (const auto &agent : agents) {
        if (const QString why = agent->harness->start(); !why.isEmpty()) {
            std::fprintf(stderr, "cannot run: %s\n", qPrintable(why));
            return 77;
        }
        if (const QString why = agent->prepareStandin(); !why.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        // The agent reads the applications folder as it starts.
        QString error;
        if (!agent->harness->startAgent(&error)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(agent->label), qPrintable(error));
            return 1;
        }
        if (agent->everyTrigger) {
            if (const QString why = agent->setEveryTrigger(); !why.isEmpty()) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(agent->label), qPrintable(why));
                return 1;
            }
        }
        std::printf("%-10s %s (pid %lld)\n", qPrintable(agent->label), qPrintable(agent->harness->programs.agent()),
            agent->pid());
    }
    std::printf("%d s per state after %d ms to settle; CPU from utime+stime, in steps of %.0f ms\n", seconds,
        settleMilliseconds, 1000.0 / double(sysconf(_SC_CLK_TCK)));
    std::fflush(stdout);

    for (std::size_t state = 0; state < states.size(); ++state) {
        for (const auto &agent : agents) {
            if (agent->broken)
                continue;
            if (const QString why = agent->enter(state); !why.isEmpty()) {
                std::fprintf(stderr, "%s: cannot enter \"%s\": %s\n%s\n", qPrintable(agent->label),
                    states.at(state).name, qPrintable(why), qPrintable(agent->harness->agentLog()));
                agent->broken = true;
            }
        }
        wait(settleMilliseconds);
        for (const auto &agent : agents) {
            if (!agent->broken)
                agent->startWindow();
        }
        constexpr int pollMilliseconds = 100;
        for (QElapsedTimer window; !window.isValid() || window.elapsed() < seconds * 1000;) {
            if (!window.isValid())
                window.start();
            wait(pollMilliseconds);
            for (const auto &agent : agents) {
                if (!agent->broken)
                    agent->poll();
            }
        }
        for (const auto &agent : agents) {
            if (!agent->broken)
                agent->endWindow(state);
        }
    }
    for (const auto &agent : agents)
        agent->stop();

    std::printf("\nwake-ups per minute in bursts per minute (CPU ms per minute)\n%-30s | %-20s", "state", "target");
    for (const auto &agent : agents)
        std::printf(" | %-26s", qPrintable(agent->label));
    std::printf("\n");
    for (std::size_t state = 0; state < states.size(); ++state) {
        std::printf("%-30s | %-20s", states.at(state).name, states.at(state).target);
        for (const auto &agent : agents)
            std::printf(" | %-26s", qPrintable(cell(agent->figures.at(state))));
        std::printf("\n");
    }
    bool anyBroken = false;
    for (const auto &agent : agents)
        anyBroken = anyBroken || agent->broken;
    return anyBroken ? 1 : 0;
}
