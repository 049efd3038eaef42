// wakora-pmset: the power-management command over logind and the desktop.
//
//   wakora-pmset -g                     print the settings listing, exit 0
//   wakora-pmset -a disablesleep 1|0    (root) keep the machine awake with
//                                       the lid closed, or stop doing so
//
// Bad arguments print the usage line and exit 64; a change without root
// exits 77 and touches nothing. A change of 0 whose reload logind has not
// confirmed exits 75: the drop-in is gone all the same. For tests only,
// "--config-dir DIR" and "--lock-file PATH" before the command move logind's
// drop-in directory and the writers' lock; the system bus is the one
// DBUS_SYSTEM_BUS_ADDRESS names, as for every D-Bus program.

#include "DesktopIdleSettings.h"
#include "LidSwitchDropIn.h"
#include "LogindSettings.h"
#include "PmsetListing.h"
#include "WriteLock.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>

#include <cstdio>
#include <optional>
#include <sysexits.h>
#include <unistd.h>

namespace {

void fail(const QString &message)
{
    std::fprintf(stderr, "wakora-pmset: %s\n", qUtf8Printable(message));
}

int usage()
{
    std::fputs("usage: wakora-pmset -g | -a disablesleep 1|0\n", stderr);
    return EX_USAGE;
}

struct Request {
    bool write = false;
    bool disabled = false; // for a write
    QString configDir = QStringLiteral("/run/systemd/logind.conf.d");
    QString lockFile = WriteLock::defaultPath();
};

std::optional<Request> parseArguments(QStringList arguments)
{
    Request request;
    for (;;) {
        if (arguments.size() >= 2 && arguments.first() == u"--config-dir")
            request.configDir = arguments.at(1);
        else if (arguments.size() >= 2 && arguments.first() == u"--lock-file")
            request.lockFile = arguments.at(1);
        else
            break;
        arguments.remove(0, 2);
    }
    if (arguments == QStringList{ QStringLiteral("-g") })
        return request;
    if (arguments.size() == 3 && arguments.at(0) == u"-a" && arguments.at(1) == u"disablesleep"
        && (arguments.at(2) == u"1" || arguments.at(2) == u"0")) {
        request.write = true;
        request.disabled = arguments.at(2) == u"1";
        return request;
    }
    return std::nullopt;
}

int printListing(QDBusConnection &systemBus)
{
    QString error;
    const auto logind = LogindSettings::read(systemBus, error);
    if (!logind) {
        fail(error);
        return EXIT_FAILURE;
    }
    // Where a desktop manages idle, logind's own idle action is not what sleeps the machine.
    const IdleSettings idle = DesktopIdleSettings::read(systemBus).value_or(logind->idle);
    const QByteArray listing = PmsetListing::text(logind->sleepDisabled, idle);
    std::fwrite(listing.constData(), 1, size_t(listing.size()), stdout);
    return std::fflush(stdout) == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const auto request = parseArguments(app.arguments().mid(1));
    if (!request)
        return usage();
    if (request->write && geteuid() != 0) {
        // Checked before the bus is touched: refusing needs nothing else.
        fail(QStringLiteral("changing disablesleep needs root"));
        return EX_NOPERM;
    }
    QDBusConnection bus = QDBusConnection::systemBus();
    // A write decides itself what it can do without the bus: giving the
    // setting back removes the drop-in all the same.
    if (request->write)
        return LidSwitchDropIn::write(bus, request->configDir, request->lockFile, request->disabled);
    if (!bus.isConnected()) {
        fail(QStringLiteral("cannot connect to the system bus: %1").arg(bus.lastError().message()));
        return EXIT_FAILURE;
    }
    return printListing(bus);
}
