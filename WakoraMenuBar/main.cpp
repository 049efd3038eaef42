// WakoraMenuBar: the agent that owns the inhibitors, the usage history and
// the lid-closed mode, with its tray icon, serving the session bus.

#include "LoginLaunchPolicy.h"
#include "MenuBarAppDelegate.h"
#include "MenuBarService.h"
#include "UnixSignalWatcher.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnectionInterface>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {

void ignoreSignal(int)
{ }

} // namespace

int main(int argc, char *argv[])
{
    // An agent that took over from another after an upgrade writes its log
    // where that one did; when the reader has gone with it, a write fails
    // rather than ending the agent. A handler, unlike SIG_IGN, is not
    // passed on to the programs the agent starts.
    struct sigaction pipeAction = {};
    pipeAction.sa_handler = ignoreSignal;
    sigemptyset(&pipeAction.sa_mask);
    ::sigaction(SIGPIPE, &pipeAction, nullptr);

    // Without any display (a console, a service) the agent still serves
    // requests; it just has no icon to show.
    const bool headless = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("quorvel"));
    QApplication::setApplicationName(QStringLiteral("WakoraMenuBar"));
    QApplication::setApplicationVersion(QStringLiteral(WAKORA_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Wakora's agent: keeps the computer awake on request."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption admit(QStringLiteral("admit"),
        QStringLiteral("Also serve this program (development and tests)."), QStringLiteral("path"));
    parser.addOption(admit);
    const QCommandLineOption units(QStringLiteral("app-units"),
        QStringLiteral("Follow applications' units in this cgroup tree instead of the user manager's (tests)."),
        QStringLiteral("directory"));
    parser.addOption(units);
    const QCommandLineOption thermal(QStringLiteral("thermal-zones"),
        QStringLiteral("Read the thermal zones under this directory instead of /sys/class/thermal (tests)."),
        QStringLiteral("directory"));
    parser.addOption(thermal);
    const QCommandLineOption suspendGrace(QStringLiteral("suspend-grace"),
        QStringLiteral("Warn this many seconds before a timed session's suspend instead of 60 (tests)."),
        QStringLiteral("seconds"));
    parser.addOption(suspendGrace);
    parser.process(application);

    QDBusConnection sessionBus = QDBusConnection::sessionBus();
    if (!sessionBus.isConnected()) {
        std::fprintf(stderr, "WakoraMenuBar: no session bus: %s\n", qPrintable(sessionBus.lastError().message()));
        return 1;
    }
    // Synchronous, before the event loop runs: only the bus daemon answers these.
    if (sessionBus.interface()->isServiceRegistered(MenuBarService::machServiceName()).value()) {
        const auto owner = sessionBus.interface()->servicePid(MenuBarService::machServiceName());
        std::printf("Wakora's agent is already running (pid %u).\n", owner.value());
        return 0;
    }

    MenuBarAppDelegate delegate(QDBusConnection::systemBus(), sessionBus, ProgramLocations::ofThisProgram(),
        { parser.values(admit), LoginLaunchPolicy::graceSeconds, !headless, parser.value(units), parser.value(thermal),
            parser.isSet(suspendGrace)
                ? std::optional(std::chrono::milliseconds(qint64(parser.value(suspendGrace).toDouble() * 1000)))
                : std::nullopt });
    QObject::connect(
        &application, &QCoreApplication::aboutToQuit, &delegate, &MenuBarAppDelegate::applicationWillTerminate);
    // SIGUSR1: the package was upgraded (its postinst sends it); the agent
    // hands over to the new program if its own file was replaced.
    UnixSignalWatcher signals({ SIGTERM, SIGINT, SIGHUP, SIGUSR1 });
    QObject::connect(&signals, &UnixSignalWatcher::received, &delegate, [&delegate](int signal) {
        if (signal == SIGUSR1)
            delegate.handOverToNewProgram();
        else
            delegate.quitWhenReleased();
    });

    if (!delegate.applicationDidFinishLaunching()) {
        delegate.applicationWillTerminate();
        // Another agent took the name first: it serves, we are not needed.
        return sessionBus.interface()->isServiceRegistered(MenuBarService::machServiceName()).value() ? 0 : 1;
    }
    // The session bus is how the session reaches the agent; once it is gone
    // (the session ended, its bus with it) nobody can switch anything off
    // again, so the agent quits and gives back everything it holds.
    QObject::connect(&delegate, &MenuBarAppDelegate::sessionBusLost, &application, [&delegate] {
        std::fprintf(stderr, "WakoraMenuBar: the session bus is gone; quitting\n");
        delegate.quitWhenReleased();
    });
    return application.exec();
}
