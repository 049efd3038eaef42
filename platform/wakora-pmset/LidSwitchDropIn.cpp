#include "LidSwitchDropIn.h"

#include "BusCalls.h"
#include "LidSwitchSettings.h"
#include "LogindSettings.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/stat.h>

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

int write(QDBusConnection &systemBus, const QString &configDir, bool disabled)
{
    // Whatever umask we were started with, logind's configuration must not
    // become writable by anyone but root: directory 0755, file 0644.
    ::umask(022);
    if (!QDir().mkpath(configDir)) {
        fail(QStringLiteral("cannot create %1").arg(configDir));
        return EXIT_FAILURE;
    }
    const QString path = QDir(configDir).filePath(dropInName);

    std::optional<QByteArray> previous;
    if (QFile file(path); file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            return EXIT_FAILURE;
        }
        previous = file.readAll();
    }

    QString error;
    const std::optional<QByteArray> wanted = disabled ? std::optional<QByteArray>(dropInContents()) : std::nullopt;
    if (!putDropIn(path, wanted, error)) {
        fail(error);
        return EXIT_FAILURE;
    }
    if (takenUp(systemBus, disabled, error))
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
