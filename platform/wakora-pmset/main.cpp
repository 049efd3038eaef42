// wakora-pmset: the power-management command over logind.
//
//   wakora-pmset -g                     print the settings listing, exit 0
//   wakora-pmset -a disablesleep 1|0    (root) keep the machine awake with
//                                       the lid closed, or stop doing so
//
// Bad arguments print the usage line and exit 64; a change without root
// exits 77 and touches nothing. For tests only, "--config-dir DIR" before
// the command moves logind's drop-in directory; the system bus is the one
// DBUS_SYSTEM_BUS_ADDRESS names, as for every D-Bus program.

#include "InhibitServices.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

namespace {

constexpr int callTimeoutMs = 5000;
// logind rereads its configuration in its own time after the signal.
constexpr int reloadTimeoutMs = 5000;
constexpr unsigned long reloadPollMs = 50;

const QString dropInName = QStringLiteral("60-wakora-disablesleep.conf");
const QStringList lidSwitchKeys = { QStringLiteral("HandleLidSwitch"), QStringLiteral("HandleLidSwitchExternalPower"),
    QStringLiteral("HandleLidSwitchDocked") };

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
};

std::optional<Request> parseArguments(QStringList arguments)
{
    Request request;
    if (arguments.size() >= 2 && arguments.first() == u"--config-dir") {
        request.configDir = arguments.at(1);
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

// What the listing says, as far as logind tells it.
struct Settings {
    bool sleepDisabled = false;
    std::optional<qint64> sleepMinutes; // absent when logind does not say
};

std::optional<Settings> readSettings(QDBusConnection &bus, QString &error)
{
    QDBusMessage call = QDBusMessage::createMethodCall(InhibitServices::logindService, InhibitServices::logindPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    call << QString(InhibitServices::logindInterface);
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != u"a{sv}") {
        error = QStringLiteral("cannot read logind's settings: %1 %2").arg(reply.errorName(), reply.errorMessage());
        return std::nullopt;
    }
    QVariantMap properties;
    reply.arguments().constFirst().value<QDBusArgument>() >> properties;

    Settings settings;
    // Sleep is disabled when closing the lid does nothing, whatever the power source or dock.
    settings.sleepDisabled = std::all_of(lidSwitchKeys.cbegin(), lidSwitchKeys.cend(),
        [&](const QString &key) { return properties.value(key).toString() == u"ignore"; });

    const QVariant action = properties.value(QStringLiteral("IdleAction"));
    const QVariant delay = properties.value(QStringLiteral("IdleActionUSec"));
    if (action.isValid() && delay.isValid()) {
        static const QStringList sleepingActions = { QStringLiteral("suspend"), QStringLiteral("hibernate"),
            QStringLiteral("hybrid-sleep"), QStringLiteral("suspend-then-hibernate") };
        if (sleepingActions.contains(action.toString())) {
            // Whole minutes, rounded up: a delay under a minute must not read as "never".
            settings.sleepMinutes = qint64(std::ceil(double(delay.toULongLong()) / 60e6));
        } else {
            settings.sleepMinutes = 0;
        }
    }
    return settings;
}

int printListing(QDBusConnection &bus)
{
    QString error;
    const auto settings = readSettings(bus, error);
    if (!settings) {
        fail(error);
        return EXIT_FAILURE;
    }
    QByteArray listing = "System-wide power settings:\n";
    listing += " SleepDisabled " + QByteArray(settings->sleepDisabled ? "1" : "0") + '\n';
    listing += "Currently in use:\n";
    // Display idle delay and Wake-on-LAN have no source here: left out, not invented.
    if (settings->sleepMinutes)
        listing += " sleep " + QByteArray::number(*settings->sleepMinutes) + '\n';
    std::fwrite(listing.constData(), 1, size_t(listing.size()), stdout);
    return std::fflush(stdout) == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

QByteArray dropInContents()
{
    QByteArray contents = "# Written by wakora-pmset: the lid keeps the machine awake until this file is removed.\n"
                          "[Login]\n";
    for (const QString &key : lidSwitchKeys)
        contents += key.toUtf8() + "=ignore\n";
    return contents;
}

// Puts the drop-in in place (contents given) or removes it (absent), atomically.
bool putDropIn(const QString &path, const std::optional<QByteArray> &contents, QString &error)
{
    if (!contents) {
        QFile file(path);
        if (file.exists() && !file.remove()) {
            error = QStringLiteral("cannot remove %1: %2").arg(path, file.errorString());
            return false;
        }
        return true;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*contents) != contents->size() || !file.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QFile::setPermissions(
        path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return true;
}

// logind has no reload of its own: systemd sends its main process SIGHUP.
bool reloadLogind(QDBusConnection &bus, QString &error)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.systemd1"),
        QStringLiteral("/org/freedesktop/systemd1"), QStringLiteral("org.freedesktop.systemd1.Manager"),
        QStringLiteral("KillUnit"));
    call << QStringLiteral("systemd-logind.service") << QStringLiteral("main") << qint32(SIGHUP);
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        error = QStringLiteral("cannot make logind reload: %1 %2").arg(reply.errorName(), reply.errorMessage());
        return false;
    }
    return true;
}

bool waitForSetting(QDBusConnection &bus, bool disabled, QString &error)
{
    const QDeadlineTimer deadline(reloadTimeoutMs);
    for (;;) {
        const auto settings = readSettings(bus, error);
        if (settings && settings->sleepDisabled == disabled)
            return true;
        if (deadline.hasExpired()) {
            if (settings)
                error = QStringLiteral("logind still reports SleepDisabled %1 after reloading")
                            .arg(settings->sleepDisabled ? 1 : 0);
            return false;
        }
        QThread::msleep(reloadPollMs);
    }
}

int writeSetting(QDBusConnection &bus, const Request &request)
{
    // Whatever umask we were started with, logind's configuration must not
    // become writable by anyone but root: directory 0755, file 0644.
    ::umask(022);
    if (!QDir().mkpath(request.configDir)) {
        fail(QStringLiteral("cannot create %1").arg(request.configDir));
        return EXIT_FAILURE;
    }
    const QString path = QDir(request.configDir).filePath(dropInName);

    std::optional<QByteArray> previous;
    if (QFile file(path); file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            return EXIT_FAILURE;
        }
        previous = file.readAll();
    }

    QString error;
    const std::optional<QByteArray> wanted
        = request.disabled ? std::optional<QByteArray>(dropInContents()) : std::nullopt;
    if (!putDropIn(path, wanted, error)) {
        fail(error);
        return EXIT_FAILURE;
    }
    if (reloadLogind(bus, error) && waitForSetting(bus, request.disabled, error))
        return EXIT_SUCCESS;

    // Never leave a change behind that logind has not taken up: the next
    // restart of logind would apply it with nobody owning it.
    fail(error);
    QString restoreError;
    if (!putDropIn(path, previous, restoreError) || !reloadLogind(bus, restoreError))
        fail(restoreError);
    return EXIT_FAILURE;
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
    if (!bus.isConnected()) {
        fail(QStringLiteral("cannot connect to the system bus: %1").arg(bus.lastError().message()));
        return EXIT_FAILURE;
    }
    return request->write ? writeSetting(bus, *request) : printListing(bus);
}
