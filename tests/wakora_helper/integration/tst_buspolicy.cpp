#include "ClamshellService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// The bus policy the build generates, as a system bus reads it: the daemon
// accepts it, only root may own the helper's name, and anyone may call the
// helper's interface (polkit decides) but nothing else of it.
class TestBusPolicy : public QObject
{
    Q_OBJECT

    QTemporaryDir directory;
    QProcess daemon;
    QString address;

    static QString generatedPolicy()
    {
        return QStringLiteral(WAKORA_BUILD_PREFIX "/share/dbus-1/system.d/com.quorvel.WakoraApp.helper.conf");
    }

    // dbus-send as the unprivileged user "nobody"; answers its exit status and output.
    int asNobody(const QStringList &arguments, QByteArray *output)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("setpriv"),
            QStringList{ QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                QStringLiteral("--clear-groups"), QStringLiteral("dbus-send"), QStringLiteral("--bus=") + address,
                QStringLiteral("--print-reply") }
                + arguments);
        if (!process.waitForFinished(15000))
            return -1;
        *output = process.readAll();
        return process.exitCode();
    }

    // The same defaults as a distribution's system.conf: nobody owns
    // anything, method calls are denied unless a policy allows them.
    QString writeConfig()
    {
        const QString path = directory.filePath(QStringLiteral("system.conf"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        const QByteArray config
            = "<busconfig>\n"
              "  <type>system</type>\n"
              "  <listen>unix:path=%1/system-bus</listen>\n"
              "  <auth>EXTERNAL</auth>\n"
              "  <policy context='default'>\n"
              "    <allow user='*'/>\n"
              "    <deny own='*'/>\n"
              "    <deny send_type='method_call'/>\n"
              "    <allow send_type='signal'/>\n"
              "    <allow send_requested_reply='true' send_type='method_return'/>\n"
              "    <allow send_requested_reply='true' send_type='error'/>\n"
              "    <allow receive_type='method_call'/>\n"
              "    <allow receive_type='method_return'/>\n"
              "    <allow receive_type='error'/>\n"
              "    <allow receive_type='signal'/>\n"
              "    <allow send_destination='org.freedesktop.DBus' send_interface='org.freedesktop.DBus'/>\n"
              "  </policy>\n"
              "  <include ignore_missing='no'>%2</include>\n"
              "</busconfig>\n";
        file.write(QString::fromUtf8(config).arg(directory.path(), generatedPolicy()).toUtf8());
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        for (const char *tool : { "dbus-daemon", "dbus-send", "setpriv" })
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool))));
        if (geteuid() != 0)
            QSKIP("owning the name as root and calling as another user needs root; CI runs as root");
        QVERIFY(QFile::exists(generatedPolicy()));
        QVERIFY(directory.isValid());
        // "nobody" must reach the socket.
        QVERIFY(QFile::setPermissions(directory.path(),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                | QFileDevice::ExeOther | QFileDevice::ReadGroup | QFileDevice::ExeGroup));
        const QString config = writeConfig();
        QVERIFY(!config.isEmpty());

        daemon.setStandardErrorFile(directory.filePath(QStringLiteral("bus.log")));
        daemon.start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
                QStringLiteral("--nofork") });
        QVERIFY(daemon.waitForStarted(5000));
        QByteArray line;
        const QDeadlineTimer deadline(10000);
        while (!line.contains('\n') && !deadline.hasExpired() && daemon.state() == QProcess::Running) {
            daemon.waitForReadyRead(100);
            line += daemon.readAllStandardOutput();
        }
        QFile log(directory.filePath(QStringLiteral("bus.log")));
        log.open(QIODevice::ReadOnly);
        QVERIFY2(line.contains('\n'), log.readAll().constData());
        address = QString::fromUtf8(line.trimmed());
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("policy-root"));
        daemon.terminate();
        daemon.waitForFinished(3000);
    }

    void onlyRootOwnsTheName()
    {
        QByteArray output;
        const QString request = QStringLiteral("string:") + ClamshellService::machServiceName();
        QVERIFY(asNobody({ QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                             QStringLiteral("org.freedesktop.DBus.RequestName"), request, QStringLiteral("uint32:4") },
                    &output)
            != 0);
        QVERIFY2(output.contains("AccessDenied"), output.constData());

        QDBusConnection root = QDBusConnection::connectToBus(address, QStringLiteral("policy-root"));
        QVERIFY(root.isConnected());
        QVERIFY2(root.registerService(ClamshellService::machServiceName()), qPrintable(root.lastError().message()));
    }

    void anyoneMayCallTheInterfaceAndNothingElse()
    {
        QDBusConnection root(QStringLiteral("policy-root"));
        QVERIFY(root.interface()->isServiceRegistered(ClamshellService::machServiceName()));

        // Reaches the owner, which has no such object here: the policy let it through.
        QByteArray output;
        asNobody({ QStringLiteral("--dest=") + ClamshellService::machServiceName(), ClamshellService::objectPath(),
                     ClamshellService::interfaceName() + QStringLiteral(".Status") },
            &output);
        QVERIFY2(!output.contains("AccessDenied"), output.constData());
        QVERIFY2(output.contains("Error"), output.constData());

        // Another interface of the same name is refused by the bus itself.
        QVERIFY(
            asNobody({ QStringLiteral("--dest=") + ClamshellService::machServiceName(), ClamshellService::objectPath(),
                         QStringLiteral("org.freedesktop.DBus.Properties.GetAll"), QStringLiteral("string:x") },
                &output)
            != 0);
        QVERIFY2(output.contains("AccessDenied"), output.constData());
    }
};

QTEST_GUILESS_MAIN(TestBusPolicy)
#include "tst_buspolicy.moc"
