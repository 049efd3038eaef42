// How the agent performs on private buses: a toggle through the agent beside
// the bare inhibit it stands for, its start-up, and what it costs while idle.

#include "AgentHarness.h"
#include "BenchTiming.h"
#include "RemoteMenuBar.h"

#include <QCoroTask>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTimer>

#include <unistd.h>

namespace {

struct Usage {
    double rssMegabytes = 0;
    double cpuSeconds = 0;
};

Usage usageOf(qint64 pid)
{
    Usage usage;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                usage.rssMegabytes = line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
        }
    }
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        // utime and stime are fields 14 and 15 of the whole line.
        usage.cpuSeconds = (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
    }
    return usage;
}

void wait(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void idleFigures(const char *label, qint64 pid, int seconds)
{
    wait(2000); // let start-up settle
    const Usage before = usageOf(pid);
    wait(seconds * 1000);
    const Usage after = usageOf(pid);
    std::printf("%-44s RSS %6.1f MB   CPU %.3f s in %d s idle (%.4f s per minute)\n", label, after.rssMegabytes,
        after.cpuSeconds - before.cpuSeconds, seconds, (after.cpuSeconds - before.cpuSeconds) * 60.0 / seconds);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    int idleSeconds = 60;
    const QStringList arguments = application.arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--idle-seconds")); at > 0)
        idleSeconds = arguments.value(at + 1).toInt();

    AgentHarness harness;
    if (const QString why = harness.start(); !why.isEmpty()) {
        std::fprintf(stderr, "cannot run: %s\n", qPrintable(why));
        return 77;
    }
    QString error;

    // Start to name acquired.
    QList<double> starts;
    for (int run = 0; run < 20; ++run) {
        QElapsedTimer timer;
        timer.start();
        if (!harness.startAgent(&error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        starts.append(double(timer.nsecsElapsed()) / 1e6);
        harness.stopAgent();
        while (harness.agentOwnsName())
            QThread::msleep(5);
    }
    std::sort(starts.begin(), starts.end());
    std::printf(
        "%-44s p50 %9.3f ms   p99 %9.3f ms   (20 runs)\n", "agent start to bus name", starts.at(10), starts.last());

    if (!harness.startAgent(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QDBusConnection bus = harness.buses.bus(MockBuses::session).newConnection();
    RemoteMenuBar remote(bus, AgentHarness::locations(), nullptr, nullptr, RemoteMenuBar::Options{});
    QCoro::waitFor(remote.refresh());
    if (!remote.isAvailable()) {
        std::fprintf(stderr, "the agent does not answer\n%s\n", qPrintable(harness.agentLog()));
        return 1;
    }

    const int cycles = 500;
    reportTiming("systemSleep on+off via RemoteMenuBar", cycles, [&] {
        if (!QCoro::waitFor(remote.setEnabled(true, AssertionKind::systemSleep))
            || !QCoro::waitFor(remote.setEnabled(false, AssertionKind::systemSleep)))
            qFatal("toggle failed");
    });
    // The same two requests without the client's bookkeeping (no state
    // refresh, no change notice): what the agent itself costs.
    QDBusConnection raw = harness.buses.bus(MockBuses::session).newConnection();
    reportTiming("SetAssertion on+off, bare requests", cycles, [&] {
        for (const bool enabled : { true, false }) {
            QDBusMessage call = QDBusMessage::createMethodCall(MenuBarService::machServiceName(),
                MenuBarService::objectPath(), MenuBarService::interfaceName(), QStringLiteral("SetAssertion"));
            call.setArguments({ QVariant::fromValue(qlonglong(0)), enabled });
            if (raw.call(call).type() != QDBusMessage::ReplyMessage)
                qFatal("SetAssertion failed");
        }
    });
    // One request that does nothing but answer: what any round trip to the
    // agent costs, four of which a toggle on and off with its refreshes makes.
    reportTiming("State round trip to the agent", cycles, [&] {
        const QDBusMessage call = QDBusMessage::createMethodCall(MenuBarService::machServiceName(),
            MenuBarService::objectPath(), MenuBarService::interfaceName(), QStringLiteral("State"));
        if (raw.call(call).type() != QDBusMessage::ReplyMessage)
            qFatal("State failed");
    });
    QDBusConnection system = harness.buses.bus(MockBuses::system).connection();
    reportTiming("bare logind Inhibit + close fd (floor)", cycles, [&] {
        QDBusMessage call = QDBusMessage::createMethodCall(InhibitMocks::logindService, InhibitMocks::logindPath,
            InhibitMocks::logindInterface, QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep") << QStringLiteral("Wakora") << QStringLiteral("Wakora: prevent system sleep")
             << QStringLiteral("block");
        const QDBusMessage reply = system.call(call);
        if (reply.type() != QDBusMessage::ReplyMessage)
            qFatal("Inhibit failed");
        // The descriptor is the inhibitor; it closes when it goes out of scope.
        const QDBusUnixFileDescriptor fd = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
        if (!fd.isValid())
            qFatal("Inhibit returned no descriptor");
    });

    idleFigures("WakoraMenuBar idle", harness.agent->processId(), idleSeconds);
    harness.stopAgent();

    return 0;
}
