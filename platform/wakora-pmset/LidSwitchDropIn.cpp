#include "LidSwitchDropIn.h"

#include "BusCalls.h"
#include "LidSwitchSettings.h"
#include "LogindSettings.h"
#include "WriteLock.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/stat.h>
#include <sysexits.h>

namespace {

// How long logind may take to answer again after the signal (a busy or
// restarting logind), and how often it is asked meanwhile.
constexpr int reloadTimeoutMs = 5000;
constexpr unsigned long reloadPollMs = 50;

// logind (systemd 252) says nothing once it has reread its configuration, and an
// administrator's own settings may leave every property as it was. It serves its bus and
// its signals from one sd-event loop, one event a turn, the longest ready first at equal
// priority, and systemd queues the SIGHUP before it answers KillUnit: at most four calls
// (the bus's socket and timer sources, each once ready before the signal and once beside
// it) are answered before the reload, so the fifth read in a row is answered after it.
constexpr int readsToPassTheReload = 5;

const QString dropInName = QStringLiteral("60-wakora-disablesleep.conf");

void fail(const QString &message)
{
    std::fprintf(stderr, "wakora-pmset: %s\n", qUtf8Printable(message));
}

QByteArray dropInContents()
{
    QByteArray contents = "# Written by wakora-pmset: the lid keeps the machine awake until this file is removed.\n"
                          "[Login]\n";
    for (const QString &key : LidSwitchSettings::keys)
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
    const QDBusMessage reply
        = BusCalls::call(bus, QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"),
            QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("KillUnit"),
            { QStringLiteral("systemd-logind.service"), QStringLiteral("main"), qint32(SIGHUP) });
    if (reply.type() != QDBusMessage::ReplyMessage) {
        error = QStringLiteral("cannot make logind reload: %1 %2").arg(reply.errorName(), reply.errorMessage());
        return false;
    }
    return true;
}

// Whether logind is on the bus at all. One that is not (stopped, or not yet
// started) reads the drop-in folder afresh when it starts.
bool logindRuns(QDBusConnection &bus)
{
    const QDBusMessage reply = BusCalls::call(bus, QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"),
        { QStringLiteral("org.freedesktop.login1") });
    // Unknown counts as running: then only a confirmed reload will do.
    return reply.type() != QDBusMessage::ReplyMessage || reply.arguments().value(0).toBool();
}

// logind's settings once it has reread its configuration; absent, with the
// error given, when logind does not answer within the time-out.
std::optional<LogindSettings> readAfterReload(QDBusConnection &bus, QString &error)
{
    const QDeadlineTimer deadline(reloadTimeoutMs);
    int answered = 0; // in a row: a logind that went away and came back starts the count again
    for (;;) {
        auto settings = LogindSettings::read(bus, error);
        answered = settings ? answered + 1 : 0;
        if (answered == readsToPassTheReload)
            return settings;
        if (deadline.hasExpired()) {
            error = QStringLiteral("logind did not answer after the signal to reload: %1").arg(error);
            return std::nullopt;
        }
        if (!settings)
            QThread::msleep(reloadPollMs);
    }
}

// Whether logind has taken up the change: reloaded, and for 1 reporting the
// lid ignored. For 0 the reload is all: an administrator's own
// HandleLidSwitch=ignore may keep SleepDisabled at 1 without our drop-in.
bool takenUp(QDBusConnection &bus, bool disabled, QString &error)
{
    if (!reloadLogind(bus, error))
        return false;
    const auto settings = readAfterReload(bus, error);
    if (!settings)
        return false;
    if (disabled && !settings->sleepDisabled) {
        error = QStringLiteral("logind still reports SleepDisabled 0 after reloading");
        return false;
    }
    return true;
}

} // namespace

namespace LidSwitchDropIn {

int write(QDBusConnection &systemBus, const QString &configDir, const QString &lockPath, bool disabled)
{
    // Whatever umask we were started with, logind's configuration must not
    // become writable by anyone but root: directory 0755, file 0644.
    ::umask(022);
    QString error;
    // Held to the end, through the reload: another writer's change never
    // interleaves with ours.
    const WriteLock lock = WriteLock::acquire(lockPath, error);
    if (!lock.held()) {
        fail(error);
        return EXIT_FAILURE;
    }
    if (!QDir().mkpath(configDir)) {
        fail(QStringLiteral("cannot create %1").arg(configDir));
        return EXIT_FAILURE;
    }
    const QString path = QDir(configDir).filePath(dropInName);

    if (!disabled) {
        // Giving the setting back only ever removes the drop-in, and removes it
        // first: nothing that fails afterwards (no bus, a logind that does not
        // answer) may bring it back, or the lid would stay ignored with
        // nobody owning it.
        if (!putDropIn(path, std::nullopt, error)) {
            fail(error);
            return EXIT_FAILURE;
        }
        if (!systemBus.isConnected()) {
            fail(QStringLiteral("removed %1, but there is no system bus to make logind reload").arg(path));
            return EX_TEMPFAIL;
        }
        if (!logindRuns(systemBus))
            return EXIT_SUCCESS; // it reads the folder, without the drop-in, when it starts
        if (takenUp(systemBus, false, error))
            return EXIT_SUCCESS;
        fail(QStringLiteral("removed %1, but logind has not confirmed the reload: %2").arg(path, error));
        return EX_TEMPFAIL;
    }

    if (!systemBus.isConnected()) {
        fail(QStringLiteral("cannot connect to the system bus: %1").arg(systemBus.lastError().message()));
        return EXIT_FAILURE;
    }
    std::optional<QByteArray> previous;
    if (QFile file(path); file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            return EXIT_FAILURE;
        }
        previous = file.readAll();
    }
    if (!putDropIn(path, dropInContents(), error)) {
        fail(error);
        return EXIT_FAILURE;
    }
    if (takenUp(systemBus, true, error))
        return EXIT_SUCCESS;

    // Never leave a change behind that logind has not taken up: the next
    // restart of logind would apply it with nobody owning it.
    fail(error);
    QString restoreError;
    if (!putDropIn(path, previous, restoreError) || !reloadLogind(systemBus, restoreError))
        fail(restoreError);
    return EXIT_FAILURE;
}

} // namespace LidSwitchDropIn
