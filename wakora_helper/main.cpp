// wakora_helper: keeps the machine awake with the lid closed for Wakora's
// agent, and gives the setting back when the agent goes away. Started as
// root by the system bus's activation; serves the system bus.
//
// Options for tests only; they move paths and admit the test program, and
// never change what the helper does:
//   --marker PATH            the ownership marker (default /var/lib/wakora/clamshell-owned)
//   --pmset PATH             the power-management command (default: the
//                            wakora-pmset installed beside the helper)
//   --pmset-config-dir DIR   passed on to the command as --config-dir DIR
//   --pmset-lock PATH        passed on to the command as --lock-file PATH
//   --handover PATH          the hand-over record (default /run/wakora/helper-owner)
//   --admit PATH             serve this program too, besides our agent
//   --log-stderr             copy the log to standard error
//
// Signals: SIGTERM and SIGINT give the setting back, then end. SIGUSR1 (the
// package's upgrade) ends and leaves the setting with its owner, whom the
// next helper takes over if the owner is still there.

#include "ClamshellService.h"
#include "FileMarker.h"
#include "HelperService.h"
#include "PmsetSetting.h"
#include "ProgramLocations.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCoroTask>
#include <QDBusConnectionInterface>
#include <QSocketNotifier>

#include <csignal>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>
#include <utility>

namespace {

// SIGTERM, SIGINT and SIGUSR1 end the helper through its event loop, so the
// setting is given back (or handed over) first.
class TerminationSignals
{
public:
    TerminationSignals()
    {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGUSR1);
        ::sigprocmask(SIG_BLOCK, &signals, nullptr);
        m_fd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~TerminationSignals()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

} // namespace

int main(int argc, char *argv[])
{
    // The activation's umask is whatever the bus was started with; the
    // marker (0644) and its folder (0755, as the package makes it) must not
    // depend on it, and neither may what wakora-pmset writes.
    ::umask(022);
    TerminationSignals termination; // before any thread exists, so all of them block the signals
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("wakora_helper"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Wakora's privileged helper: the lid-closed mode."));
    parser.addHelpOption();
    const QCommandLineOption marker(
        QStringLiteral("marker"), QStringLiteral("The ownership marker (tests)."), QStringLiteral("path"));
    const QCommandLineOption pmset(
        QStringLiteral("pmset"), QStringLiteral("The power-management command (tests)."), QStringLiteral("path"));
    const QCommandLineOption pmsetConfigDir(QStringLiteral("pmset-config-dir"),
        QStringLiteral("logind's drop-in directory for the command (tests)."), QStringLiteral("dir"));
    const QCommandLineOption admit(
        QStringLiteral("admit"), QStringLiteral("Also serve this program (tests)."), QStringLiteral("path"));
    const QCommandLineOption logStderr(QStringLiteral("log-stderr"), QStringLiteral("Copy the log to standard error."));
    const QCommandLineOption pmsetLock(
        QStringLiteral("pmset-lock"), QStringLiteral("The command's write lock (tests)."), QStringLiteral("path"));
    const QCommandLineOption handover(
        QStringLiteral("handover"), QStringLiteral("The hand-over record (tests)."), QStringLiteral("path"));
    parser.addOptions({ marker, pmset, pmsetConfigDir, pmsetLock, handover, admit, logStderr });
    parser.process(application);

    ::openlog("wakora_helper", LOG_PID | (parser.isSet(logStderr) ? LOG_PERROR : 0), LOG_DAEMON);

    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        helperLog(LOG_ERR, QStringLiteral("no system bus: %1").arg(bus.lastError().message()));
        return 1;
    }

    QStringList pmsetArguments;
    if (parser.isSet(pmsetConfigDir))
        pmsetArguments << QStringLiteral("--config-dir") << parser.value(pmsetConfigDir);
    if (parser.isSet(pmsetLock))
        pmsetArguments << QStringLiteral("--lock-file") << parser.value(pmsetLock);
    auto setting = std::make_shared<PmsetSetting>(
        parser.isSet(pmset) ? parser.value(pmset) : ProgramLocations::ofThisProgram().pmset(), pmsetArguments);
    auto ownership = std::make_shared<FileMarker>(
        parser.isSet(marker) ? parser.value(marker) : QStringLiteral("/var/lib/wakora/clamshell-owned"), 0);

    HelperService::Options options;
    options.admittedPrograms = QStringList{ ProgramLocations::ofThisProgram().agent() } + parser.values(admit);
    options.handoverPath = parser.isSet(handover) ? parser.value(handover) : QStringLiteral("/run/wakora/helper-owner");
    HelperService service(bus, std::make_shared<ClamshellPolicy>(setting, ownership), options);

    // The name first: a helper that is already running owns the setting,
    // and a second one (started by hand) must leave it alone.
    if (const auto registered = service.registerOnBus(); !registered) {
        // Before serving; the bus daemon answers at once.
        if (bus.interface()->isServiceRegistered(ClamshellService::machServiceName()).value()) {
            helperLog(LOG_INFO, QStringLiteral("another helper is running; leaving its setting alone"));
            return 0;
        }
        helperLog(LOG_ERR, registered.error());
        return 1;
    }
    // A setting left by an earlier run (a crash, a kill) goes back before
    // any request is carried out: they wait in the queue behind it.
    service.restoreAtStart();

    // Leaving: the name stays ours until the setting is back (or handed
    // over), so a request meanwhile is refused by us rather than starting a
    // second helper that would restore alongside.
    bool leaving = false;
    const auto leave = [&](int status) {
        bus.unregisterService(ClamshellService::machServiceName());
        QCoreApplication::exit(status);
    };
    QSocketNotifier signals(termination.fd(), QSocketNotifier::Read);
    QObject::connect(&signals, &QSocketNotifier::activated, &application, [&] {
        signalfd_siginfo info = {};
        [[maybe_unused]] const auto got = ::read(termination.fd(), &info, sizeof info);
        if (std::exchange(leaving, true))
            return;
        signals.setEnabled(false);
        if (info.ssi_signo == SIGUSR1)
            service.handOver().then([&] { leave(0); });
        else
            service.restoreAtExit().then([&](bool) { leave(0); });
    });
    // Nobody to serve and nothing to give back: go, so that the next
    // request starts the helper that is installed then, which restores first.
    QObject::connect(&service, &HelperService::idle, &application, [&] {
        if (std::exchange(leaving, true))
            return;
        service.stopServing();
        helperLog(LOG_INFO, QStringLiteral("idle; ending"));
        leave(0);
    });
    // A system bus that went away will not tell us about our clients any
    // more: give the setting back (wakora-pmset needs the bus to make logind
    // reload, so keep trying a while for a bus that comes back), then end.
    QObject::connect(&service, &HelperService::busLost, &application, [&] {
        if (std::exchange(leaving, true))
            return;
        service.restoreAtExit(std::chrono::minutes(1)).then([](bool restored) {
            if (!restored)
                helperLog(LOG_ERR, QStringLiteral("ending with the setting not yet back; the next start restores it"));
            QCoreApplication::exit(1);
        });
    });
    return application.exec();
}
