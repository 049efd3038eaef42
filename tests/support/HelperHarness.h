#pragma once

// The real wakora_helper (and wakora-pmset) on MockBuses, against mocks of
// polkit, logind and systemd, with its marker and logind's drop-in folder in
// a temporary folder. systemd's KillUnit makes the logind mock reread the
// drop-in folder, as the SIGHUP makes logind do.
//
//     HelperHarness helper;
//     if (const QString why = helper.start(buses); !why.isEmpty()) ...
//     QVERIFY2(helper.startHelper(&error), qPrintable(error));
//     helper.request(connection, "Enable") ...

#include "ClamshellService.h"
#include "InhibitMocks.h"
#include "ProgramLocations.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <unistd.h>

class HelperHarness
{
public:
    HelperHarness() = default;
    HelperHarness(const HelperHarness &) = delete;
    HelperHarness &operator=(const HelperHarness &) = delete;
    ~HelperHarness() { stopHelper(); }

    static ProgramLocations locations() { return ProgramLocations(QStringLiteral(WAKORA_BUILD_PREFIX)); }
    static QString dropInName() { return QStringLiteral("60-wakora-disablesleep.conf"); }
    static QString action() { return QStringLiteral("com.quorvel.WakoraApp.helper.lid-closed"); }

    // The mocks on `buses` (already started), with the action allowed; empty
    // on success. `logind` may be one the caller started already.
    QString start(MockBuses &buses, DBusMock *logindMock = nullptr, bool reloads = true)
    {
        m_buses = &buses;
        if (geteuid() != 0)
            return QStringLiteral("not installed: the helper and wakora-pmset's writes need root; CI runs as root");
        if (!directory.isValid())
            return QStringLiteral("no temporary directory");
        QString error;
        logind = logindMock ? logindMock : InhibitMocks::startLogind(buses, &error);
        if (!logind)
            return error;
        for (const QString &key : lidKeys())
            if (!logind->addProperty(InhibitMocks::logindInterface, key, QStringLiteral("suspend")))
                return QStringLiteral("cannot add %1 to the logind mock").arg(key);
        polkit = buses.startTemplate(MockBuses::system, QStringLiteral("polkitd"),
            QStringLiteral("org.freedesktop.PolicyKit1"), QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
            &error);
        if (!polkit)
            return error;
        if (!allow(true))
            return QStringLiteral("cannot allow the helper's action");
        systemd = buses.startTemplate(MockBuses::system, QStringLiteral("systemd"),
            QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"), &error);
        if (!systemd)
            return error;
        const QString reload = InhibitMocks::logindReload(dropInPath(), QStringLiteral("suspend"));
        if (!systemd->addMethod(QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("KillUnit"),
                QStringLiteral("ssi"), QString(), reloads ? reload : QString()))
            return QStringLiteral("cannot build the systemd mock");
        return QString();
    }

    bool allow(bool allowed)
    {
        return polkit
            && polkit->mockCall(QStringLiteral("SetAllowed"), { allowed ? QStringList{ action() } : QStringList{} })
                   .type()
            == QDBusMessage::ReplyMessage;
    }

    static QStringList lidKeys()
    {
        return { QStringLiteral("HandleLidSwitch"), QStringLiteral("HandleLidSwitchExternalPower"),
            QStringLiteral("HandleLidSwitchDocked") };
    }

    // Someone else's setting: logind already ignores the lid.
    bool setLidIgnoredElsewhere()
    {
        QVariantMap values;
        for (const QString &key : lidKeys())
            values.insert(key, QStringLiteral("ignore"));
        return logind->updateProperties(InhibitMocks::logindInterface, values);
    }

    QString markerDirectory() const { return directory.filePath(QStringLiteral("lib/wakora")); }
    QString markerPath() const { return markerDirectory() + QStringLiteral("/clamshell-owned"); }
    QString configDirectory() const { return directory.filePath(QStringLiteral("logind.conf.d")); }
    QString dropInPath() const { return configDirectory() + QLatin1Char('/') + dropInName(); }
    QString lockPath() const { return directory.filePath(QStringLiteral("run-wakora/pmset.lock")); }
    QString handoverPath() const { return directory.filePath(QStringLiteral("run-wakora/helper-owner")); }
    bool markerExists() const { return QFileInfo::exists(markerPath()) || QFileInfo(markerPath()).isSymLink(); }
    bool dropInExists() const { return QFileInfo::exists(dropInPath()); }

    // The options that move the helper's paths into the temporary folder.
    QStringList testOptions(bool admitThisTest = true) const
    {
        QStringList options{ QStringLiteral("--marker"), markerPath(), QStringLiteral("--pmset-config-dir"),
            configDirectory(), QStringLiteral("--pmset-lock"), lockPath(), QStringLiteral("--handover"), handoverPath(),
            QStringLiteral("--log-stderr") };
        if (admitThisTest)
            options << QStringLiteral("--admit") << QCoreApplication::applicationFilePath();
        return options;
    }

    QDBusConnection system() { return m_buses->bus(MockBuses::system).connection(); }

    bool helperOwnsName()
    {
        return system().interface()->isServiceRegistered(ClamshellService::machServiceName()).value();
    }

    // Starts the helper and waits until it owns its name.
    bool startHelper(QString *error, bool admitThisTest = true)
    {
        stopHelper();
        helper = std::make_unique<QProcess>();
        helper->setProcessEnvironment(m_buses->environment());
        helper->setProcessChannelMode(QProcess::MergedChannels);
        helper->start(locations().helper(), testOptions(admitThisTest) + extraArguments);
        if (!helper->waitForStarted(5000)) {
            *error = QStringLiteral("the helper did not start: %1").arg(helper->errorString());
            return false;
        }
        const QDeadlineTimer deadline(15000);
        while (!helperOwnsName()) {
            if (deadline.hasExpired() || helper->state() != QProcess::Running) {
                *error = QStringLiteral("the helper did not take its name:\n%1").arg(helperLog());
                return false;
            }
            QThread::msleep(10);
        }
        return true;
    }

    void signalHelper(int signal)
    {
        if (helper && helper->state() == QProcess::Running)
            ::kill(pid_t(helper->processId()), signal);
    }

    void stopHelper()
    {
        if (!helper || helper->state() == QProcess::NotRunning)
            return;
        signalHelper(SIGCONT);
        helper->terminate();
        if (!helper->waitForFinished(10000)) {
            helper->kill();
            helper->waitForFinished(5000);
        }
        log += QString::fromUtf8(helper->readAll());
    }

    QString helperLog()
    {
        if (helper && helper->state() == QProcess::Running)
            helper->waitForReadyRead(100);
        if (helper)
            log += QString::fromUtf8(helper->readAll());
        return log;
    }

    struct Reply {
        bool ok = false; // a regular reply
        qint64 mode = -1;
        QStringList failure;
        QString errorName; // of an error reply
        QString errorMessage;
    };

    static Reply request(QDBusConnection bus, const QString &method, int timeoutMs = 30000,
        const QString &destination = ClamshellService::machServiceName())
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            destination, ClamshellService::objectPath(), ClamshellService::interfaceName(), method);
        const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
        Reply result;
        if (reply.type() != QDBusMessage::ReplyMessage) {
            result.errorName = reply.errorName();
            result.errorMessage = reply.errorMessage();
            return result;
        }
        result.ok = reply.signature() == u"xas";
        result.mode = reply.arguments().value(0).toLongLong();
        result.failure = reply.arguments().value(1).toStringList();
        return result;
    }

    // More arguments for the helper (another --admit), set before startHelper().
    QStringList extraArguments;
    QTemporaryDir directory;
    DBusMock *logind = nullptr;
    DBusMock *polkit = nullptr;
    DBusMock *systemd = nullptr;
    std::unique_ptr<QProcess> helper;
    QString log;

private:
    MockBuses *m_buses = nullptr;
};
