// How long the agent's main thread ever stops: the agent runs in this
// process (its delegate, as the program builds it) on private buses, a 1 ms
// heartbeat timer ticks on its main thread, and a client on a thread of its
// own toggles through the request service with blocking calls, as the
// window or the command would from their own processes. Prints the longest
// and the 99th-percentile gap between ticks, during 500 toggles against
// logind and during one toggle whose first service (a screen saver) takes
// 6 s to answer, past the agent's 5 s time-out.

#include "InhibitMocks.h"
#include "MenuBarAppDelegate.h"
#include "MenuBarService.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Ticks every millisecond on the thread it lives on and keeps the gaps.
class Heartbeat
{
public:
    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1ms);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 tick = m_clock.nsecsElapsed();
            m_gaps.append(tick - m_last);
            m_last = tick;
        });
    }

    void start()
    {
        m_gaps.clear();
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }

    void report(const char *label)
    {
        m_timer.stop();
        std::sort(m_gaps.begin(), m_gaps.end());
        if (m_gaps.isEmpty())
            return;
        std::printf("%-52s longest gap %7.3f ms   p99 %6.3f ms   (%lld ticks)\n", label,
            double(m_gaps.constLast()) / 1e6, double(m_gaps.at(m_gaps.size() * 99 / 100)) / 1e6,
            static_cast<long long>(m_gaps.size()));
        std::fflush(stdout);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    QList<qint64> m_gaps;
};

// `toggles` SetAssertion requests (on, off, ...) for the kind, each followed
// by State as the window refreshes, sent from a thread of its own; the main
// thread's event loop ends when they are done. Answers false on any failure.
bool toggleFromAnotherThread(const QString &address, int toggles, qint64 kind)
{
    std::atomic<bool> ok = true;
    QEventLoop loop;
    std::thread client([&] {
        {
            QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("stall-client"));
            for (int index = 0; index < toggles && ok; ++index) {
                QDBusMessage set = QDBusMessage::createMethodCall(MenuBarService::machServiceName(),
                    MenuBarService::objectPath(), MenuBarService::interfaceName(), QStringLiteral("SetAssertion"));
                set.setArguments({ QVariant::fromValue(kind), index % 2 == 0 });
                const QDBusMessage reply = bus.call(set, QDBus::Block, 30000);
                const QDBusMessage state = bus.call(
                    QDBusMessage::createMethodCall(MenuBarService::machServiceName(), MenuBarService::objectPath(),
                        MenuBarService::interfaceName(), QStringLiteral("State")),
                    QDBus::Block, 30000);
                if (reply.type() != QDBusMessage::ReplyMessage || state.type() != QDBusMessage::ReplyMessage
                    || !reply.arguments().value(0).toStringList().isEmpty()) {
                    std::fprintf(stderr, "toggle %d failed: %s %s\n", index, qPrintable(reply.errorMessage()),
                        qPrintable(reply.arguments().value(0).toStringList().join(u' ')));
                    ok = false;
                }
            }
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("stall-client"));
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    client.join();
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (const QString why = MockBuses::unavailableReason(); !why.isEmpty()) {
        std::fprintf(stderr, "cannot run: %s\n", qPrintable(why));
        return 77;
    }
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    MockBuses buses;
    QString error;
    if (!buses.start(&error) || !InhibitMocks::startLogind(buses, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    MenuBarAppDelegate::Options options;
    options.extraClients = { QCoreApplication::applicationFilePath() };
    options.graceSeconds = 3600;
    options.showsStatusItem = false;
    MenuBarAppDelegate agent(buses.bus(MockBuses::system).connection(), buses.bus(MockBuses::session).connection(),
        ProgramLocations(QStringLiteral(WAKORA_BUILD_PREFIX)), options);
    if (!agent.applicationDidFinishLaunching())
        return 1;
    const QString address = buses.bus(MockBuses::session).address();
    Heartbeat heartbeat;

    // Once to settle: the services are looked up and the history created.
    if (!toggleFromAnotherThread(address, 2, 0))
        return 1;
    heartbeat.start();
    if (!toggleFromAnotherThread(address, 500, 0))
        return 1;
    heartbeat.report("500 toggles (+State) against logind");

    // A screen saver that answers after 6 s stands first in line for the
    // display; the toggle waits 5 s for it, gives up and goes on to logind.
    if (!InhibitMocks::startCookieService(buses, InhibitMocks::screenSaverService, InhibitMocks::screenSaverPath,
            InhibitMocks::screenSaverInterface, &error, 6.0)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QElapsedTimer slow;
    slow.start();
    heartbeat.start();
    if (!toggleFromAnotherThread(address, 1, 1))
        return 1;
    heartbeat.report("one toggle, its first service answering after 6 s");
    std::printf("%-52s %7.0f ms\n", "  that toggle took", double(slow.elapsed()));

    QCoro::waitFor(agent.quitWhenReleased());
    return 0;
}
