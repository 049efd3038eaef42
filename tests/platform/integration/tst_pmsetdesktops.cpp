#include "InhibitMocks.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace InhibitMocks;

static const QString pmset = QStringLiteral(WAKORA_PMSET_BUILD_PATH);
static const QString upowerService = QStringLiteral("org.freedesktop.UPower");
static const QString displayDevice = QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice");

// The real wakora-pmset -g reading each desktop's own idle settings where
// they live: GNOME's through GSettings (its keyfile backend, with the real
// schemas), Plasma's files in a temporary XDG_CONFIG_HOME, Xfce's from the
// real xfconfd on a private session bus. logind, UPower and systemd are
// python-dbusmock mocks on a private system bus: none of them can run here
// without the machine's own system bus and hardware. logind's own idle
// action says 45 minutes throughout, so any other value came from the desktop.
class TestPmsetDesktops : public QObject
{
    Q_OBJECT

    std::unique_ptr<MockBuses> buses;
    std::unique_ptr<QTemporaryDir> home;
    QProcessEnvironment environment;
    QString error;

    QString configHome() const { return home->filePath(QStringLiteral("config")); }
    QString systemConfig() const { return home->filePath(QStringLiteral("xdg")); }

    // Starts the buses and logind (with the template's parameters given);
    // with `xfconf`, the session bus can start the installed xfconfd on
    // demand, as a desktop session's bus does.
    bool start(bool xfconf = false, const QString &logindParameters = QString())
    {
        if (xfconf) {
            const QString service = QStandardPaths::locate(
                QStandardPaths::GenericDataLocation, QStringLiteral("dbus-1/services/org.xfce.Xfconf.service"));
            const QString services = home->filePath(QStringLiteral("services"));
            if (service.isEmpty() || !QDir().mkpath(services)
                || !QFile::copy(service, services + QStringLiteral("/org.xfce.Xfconf.service"))) {
                error = QStringLiteral("xfconfd is not installed (Debian: xfconf)");
                return false;
            }
            buses->bus(MockBuses::session).setServiceDirectories({ services });
        }
        if (!buses->start(&error))
            return false;
        environment = buses->environment();
        for (const char *name : { "XDG_CURRENT_DESKTOP", "KDE_SESSION_VERSION", "QT_QUICK_CONTROLS_MOBILE",
                 "GSETTINGS_SCHEMA_DIR", "XDG_DATA_HOME" })
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("HOME"), home->path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
        environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), systemConfig());
        environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));
        if (xfconf
            && !buses->bus(MockBuses::session)
                    .updateActivationEnvironment(
                        { { QStringLiteral("HOME"), home->path() }, { QStringLiteral("XDG_CONFIG_HOME"), configHome() },
                            { QStringLiteral("XDG_CONFIG_DIRS"), systemConfig() } })) {
            error = QStringLiteral("cannot set the session bus's activation environment");
            return false;
        }
        return startLogindSaying(logindParameters);
    }

    bool startLogindSaying(const QString &parameters)
    {
        DBusMock *logind = buses->startTemplate(
            MockBuses::system, QStringLiteral("logind"), logindService, logindPath, &error, parameters);
        return logind
            && logind->updateProperties(logindInterface,
                { { QStringLiteral("IdleAction"), QStringLiteral("suspend") },
                    { QStringLiteral("IdleActionUSec"), QVariant::fromValue(quint64(45) * 60 * 1000000) } });
    }

    // UPower on battery at `percent`, or on mains power.
    bool startUPower(bool onBattery, double percent = 0)
    {
        DBusMock *upower = buses->startTemplate(MockBuses::system, QStringLiteral("upower"), upowerService,
            QStringLiteral("/org/freedesktop/UPower"), &error,
            onBattery ? QStringLiteral("{\"OnBattery\": true}") : QStringLiteral("{\"OnBattery\": false}"));
        return upower
            && upower
                   ->mockCall(QStringLiteral("UpdateProperties"),
                       { QStringLiteral("org.freedesktop.UPower.Device"),
                           QVariantMap{ { QStringLiteral("Percentage"), percent },
                               { QStringLiteral("IsPresent"), onBattery } } },
                       displayDevice)
                   .type()
            == QDBusMessage::ReplyMessage;
    }

    // systemd as PowerDevil's defaults ask it: virtualization "" on real hardware.
    bool startSystemd(const QString &virtualization)
    {
        DBusMock *systemd = buses->startTemplate(MockBuses::system, QStringLiteral("systemd"),
            QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"), &error);
        return systemd
            && systemd->addProperty(
                QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("Virtualization"), virtualization);
    }

    bool writeFile(const QString &path, const QByteArray &contents)
    {
        if (!QDir().mkpath(QFileInfo(path).path()))
            return false;
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
    }

    bool writeGnomeSettings(const QByteArray &keyfile)
    {
        return writeFile(configHome() + QStringLiteral("/glib-2.0/settings/keyfile"), keyfile);
    }

    QByteArray listing()
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(pmset, { QStringLiteral("-g") });
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
            qWarning("wakora-pmset did not finish");
            return QByteArray();
        }
        const QByteArray err = process.readAllStandardError();
        if (process.exitCode() != 0) {
            qWarning("wakora-pmset exited %d: %s", process.exitCode(), err.constData());
            return QByteArray();
        }
        return process.readAllStandardOutput();
    }

    static QByteArray expected(const QByteArray &inUse)
    {
        return "System-wide power settings:\n SleepDisabled 0\nCurrently in use:\n" + inUse;
    }

    // A key's default in GNOME's installed power schema, as gsettings prints it.
    static QString gnomeDefault(const QString &key)
    {
        QProcess gsettings;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory")); // nobody's own settings
        gsettings.setProcessEnvironment(environment);
        gsettings.start(QStringLiteral("gsettings"),
            { QStringLiteral("get"), QStringLiteral("org.gnome.settings-daemon.plugins.power"), key });
        gsettings.waitForFinished(10000);
        return QString::fromUtf8(gsettings.readAllStandardOutput()).trimmed();
    }

    static bool gnomeSchemasInstalled()
    {
        for (const char *schema :
            { "org.gnome.settings-daemon.plugins.power.gschema.xml", "org.gnome.desktop.session.gschema.xml" })
            if (QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                    QStringLiteral("glib-2.0/schemas/") + QString::fromLatin1(schema))
                    .isEmpty())
                return false;
        return true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString reason = MockBuses::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
        QVERIFY2(QFile::exists(pmset), qPrintable(pmset));
    }

    void init()
    {
        buses = std::make_unique<MockBuses>();
        home = std::make_unique<QTemporaryDir>();
        QVERIFY(home->isValid());
    }

    void cleanup()
    {
        if (QTest::currentTestFailed() && buses)
            buses->printLogs();
        buses.reset();
        home.reset();
    }

    void gnome_data()
    {
        QTest::addColumn<QByteArray>("keyfile");
        QTest::addColumn<int>("upower"); // -1 absent, 0 on mains power, 1 on battery
        QTest::addColumn<QByteArray>("inUse");
        const QByteArray acAndBattery = "[org/gnome/settings-daemon/plugins/power]\n"
                                        "sleep-inactive-ac-timeout=1500\n"
                                        "sleep-inactive-ac-type='suspend'\n"
                                        "sleep-inactive-battery-timeout=61\n"
                                        "sleep-inactive-battery-type='hibernate'\n"
                                        "[org/gnome/desktop/session]\n"
                                        "idle-delay=600\n";
        // GNOME 43 (Debian 12) suspends after 20 minutes by default, GNOME 48
        // (Debian 13) after 15: the default is read from the installed schema.
        QTest::newRow("GNOME's defaults")
            << QByteArray() << 0
            << QStringLiteral(" sleep %1\n displaysleep 5\n")
                   .arg(gnomeDefault(QStringLiteral("sleep-inactive-ac-timeout")).toInt() / 60)
                   .toUtf8();
        QTest::newRow("the user's, on mains power") << acAndBattery << 0 << QByteArray(" sleep 25\n displaysleep 10\n");
        QTest::newRow("the battery's, on battery") << acAndBattery << 1 << QByteArray(" sleep 2\n displaysleep 10\n");
        QTest::newRow("mains power's without UPower")
            << acAndBattery << -1 << QByteArray(" sleep 25\n displaysleep 10\n");
        QTest::newRow("never") << QByteArray(
            "[org/gnome/settings-daemon/plugins/power]\nsleep-inactive-ac-type='nothing'\n"
            "[org/gnome/desktop/session]\nidle-delay=0\n")
                               << 0 << QByteArray(" sleep 0\n displaysleep 0\n");
    }

    void gnome()
    {
        QFETCH(QByteArray, keyfile);
        QFETCH(int, upower);
        QFETCH(QByteArray, inUse);
        if (!gnomeSchemasInstalled())
            QSKIP(
                "GNOME's schemas are not installed (Debian: gsettings-desktop-schemas, gnome-settings-daemon-common)");
        QVERIFY2(start(), qPrintable(error));
        if (upower >= 0)
            QVERIFY2(startUPower(upower == 1, 80), qPrintable(error));
        if (!keyfile.isEmpty())
            QVERIFY(writeGnomeSettings(keyfile));
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("ubuntu:GNOME"));
        QCOMPARE(listing(), expected(inUse));
    }

    void gnomeWithoutItsSchemasSaysNothing()
    {
        QVERIFY2(start(), qPrintable(error));
        QVERIFY(writeGnomeSettings("[org/gnome/desktop/session]\nidle-delay=600\n"));
        // No schema anywhere: GIO would abort on reading one; the lines stay out instead.
        const QString noData = home->filePath(QStringLiteral("no-data"));
        QVERIFY(QDir().mkpath(noData));
        environment.insert(QStringLiteral("XDG_DATA_DIRS"), noData);
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
        QCOMPARE(listing(), expected(QByteArray()));
    }

    void withoutASessionLogindDecides()
    {
        QVERIFY2(start(), qPrintable(error));
        QVERIFY(writeGnomeSettings("[org/gnome/desktop/session]\nidle-delay=600\n"));
        QVERIFY(writeFile(
            configHome() + QStringLiteral("/powerdevilrc"), "[AC][Display]\nTurnOffDisplayIdleTimeoutSec=60\n"));
        // As the privileged helper runs it: no desktop, no session bus.
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        QCOMPARE(listing(), expected(" sleep 45\n"));
        // Another desktop's session: its power manager is not one we read.
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("X-Cinnamon"));
        QCOMPARE(listing(), expected(" sleep 45\n"));
    }

    void plasma6()
    {
        QVERIFY2(start(), qPrintable(error));
        // The system's file gives defaults, and locks one of them.
        QVERIFY(writeFile(systemConfig() + QStringLiteral("/powerdevilrc"),
            "[AC][SuspendAndShutdown]\nAutoSuspendIdleTimeoutSec=3600\n"
            "[AC][Display]\nTurnOffDisplayIdleTimeoutSec[$i]=420\n"));
        QVERIFY(writeFile(configHome() + QStringLiteral("/powerdevilrc"),
            "[AC][SuspendAndShutdown]\nAutoSuspendAction=1\nAutoSuspendIdleTimeoutSec=1830\n"
            "[AC][Display]\nTurnOffDisplayIdleTimeoutSec=60\n"
            "[Battery][SuspendAndShutdown]\nAutoSuspendAction=0\n"));
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
        environment.insert(QStringLiteral("KDE_SESSION_VERSION"), QStringLiteral("6"));
        QCOMPARE(listing(), expected(" sleep 31\n displaysleep 7\n"));
    }

    void plasma6Defaults_data()
    {
        QTest::addColumn<QString>("canSuspend");
        QTest::addColumn<QString>("virtualization"); // "-" for no systemd to ask
        QTest::addColumn<double>("battery"); // 0 on mains power
        QTest::addColumn<QByteArray>("inUse");
        QTest::newRow("a laptop on mains power")
            << QStringLiteral("yes") << QString() << 0.0 << QByteArray(" sleep 15\n displaysleep 10\n");
        QTest::newRow("on battery") << QStringLiteral("yes") << QString() << 64.0
                                    << QByteArray(" sleep 10\n displaysleep 5\n");
        QTest::newRow("low battery") << QStringLiteral("challenge") << QString() << 7.0
                                     << QByteArray(" sleep 5\n displaysleep 2\n");
        QTest::newRow("a virtual machine")
            << QStringLiteral("yes") << QStringLiteral("kvm") << 0.0 << QByteArray(" sleep 0\n displaysleep 10\n");
        QTest::newRow("cannot suspend") << QStringLiteral("no") << QString() << 0.0
                                        << QByteArray(" sleep 0\n displaysleep 10\n");
        QTest::newRow("nobody to tell whether it is a virtual machine")
            << QStringLiteral("yes") << QStringLiteral("-") << 0.0 << QByteArray(" displaysleep 10\n");
    }

    void plasma6Defaults()
    {
        QFETCH(QString, canSuspend);
        QFETCH(QString, virtualization);
        QFETCH(double, battery);
        QFETCH(QByteArray, inUse);
        QVERIFY2(start(false, QStringLiteral("{\"CanSuspend\": \"%1\"}").arg(canSuspend)), qPrintable(error));
        if (virtualization != u"-")
            QVERIFY2(startSystemd(virtualization), qPrintable(error));
        if (battery > 0)
            QVERIFY2(startUPower(true, battery), qPrintable(error));
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
        environment.insert(QStringLiteral("KDE_SESSION_VERSION"), QStringLiteral("6"));
        QCOMPARE(listing(), expected(inUse));
    }

    void plasma5()
    {
        QVERIFY2(start(), qPrintable(error));
        // As Plasma 5.27 generates it: no suspend on mains power.
        QVERIFY(writeFile(configHome() + QStringLiteral("/powermanagementprofilesrc"),
            "[AC]\nicon=battery-charging\n[AC][DPMSControl]\nidleTime=600\n"
            "[Battery][DPMSControl]\nidleTime=300\n"
            "[Battery][SuspendSession]\nidleTime=600000\nsuspendType=1\n"
            "[LowBattery][SuspendSession]\nidleTime=300000\nsuspendType=1\n"));
        // Plasma 5's low level of the user's, in powerdevilrc.
        QVERIFY(writeFile(configHome() + QStringLiteral("/powerdevilrc"), "[BatteryManagement]\nBatteryLowLevel=5\n"));
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
        environment.insert(QStringLiteral("KDE_SESSION_VERSION"), QStringLiteral("5"));
        QCOMPARE(listing(), expected(" sleep 0\n displaysleep 10\n"));
        QVERIFY2(startUPower(true, 7), qPrintable(error));
        QCOMPARE(listing(), expected(" sleep 10\n displaysleep 5\n"));
    }

    void plasmaFoundOnTheSessionBus()
    {
        QVERIFY2(start(), qPrintable(error));
        QVERIFY(writeFile(configHome() + QStringLiteral("/powerdevilrc"),
            "[AC][SuspendAndShutdown]\nAutoSuspendAction=0\n[AC][Display]\nTurnOffDisplayWhenIdle=false\n"));
        // XDG_CURRENT_DESKTOP unset, as for a program a systemd user unit started.
        QCOMPARE(listing(), expected(" sleep 45\n"));
        QVERIFY2(buses->startObject(MockBuses::session, QStringLiteral("org.kde.Solid.PowerManagement"),
                     QStringLiteral("/org/kde/Solid/PowerManagement"), QStringLiteral("org.kde.Solid.PowerManagement"),
                     &error),
            qPrintable(error));
        QCOMPARE(listing(), expected(" sleep 0\n displaysleep 0\n"));
    }

    void xfce_data()
    {
        QTest::addColumn<QStringList>("set"); // property, type, value, ...
        QTest::addColumn<bool>("onBattery");
        QTest::addColumn<QByteArray>("inUse");
        QTest::newRow("xfce4-power-manager's defaults")
            << QStringList{} << false << QByteArray(" sleep 0\n displaysleep 10\n");
        QTest::newRow("suspend after 30, screen off after 20") << QStringList{ QStringLiteral("inactivity-on-ac"),
            QStringLiteral("uint"), QStringLiteral("30"), QStringLiteral("dpms-on-ac-sleep"), QStringLiteral("uint"),
            QStringLiteral("0"), QStringLiteral("dpms-on-ac-off"), QStringLiteral("uint"), QStringLiteral("20") }
                                                               << false << QByteArray(" sleep 30\n displaysleep 20\n");
        QTest::newRow("display power management off, 14 is never") << QStringList{ QStringLiteral("dpms-enabled"),
            QStringLiteral("bool"), QStringLiteral("false"), QStringLiteral("inactivity-on-ac"), QStringLiteral("uint"),
            QStringLiteral("14") } << false << QByteArray(" sleep 0\n displaysleep 0\n");
        QTest::newRow("the battery's keys on battery")
            << QStringList{ QStringLiteral("inactivity-on-ac"), QStringLiteral("uint"), QStringLiteral("30"),
                   QStringLiteral("inactivity-on-battery"), QStringLiteral("uint"), QStringLiteral("50") }
            << true << QByteArray(" sleep 50\n displaysleep 5\n");
    }

    void xfce()
    {
        QFETCH(QStringList, set);
        QFETCH(bool, onBattery);
        QFETCH(QByteArray, inUse);
        const QString query = QStandardPaths::findExecutable(QStringLiteral("xfconf-query"));
        if (query.isEmpty())
            QSKIP("xfconf-query is not installed (Debian: xfconf)");
        if (!start(true)) {
            if (error.contains(u"not installed"))
                QSKIP(qPrintable(error));
            QFAIL(qPrintable(error));
        }
        if (onBattery)
            QVERIFY2(startUPower(true, 80), qPrintable(error));
        // Set through xfconfd as the settings dialog does; the first call starts it.
        for (qsizetype i = 0; i + 2 < set.size(); i += 3) {
            QProcess process;
            process.setProcessEnvironment(environment);
            process.start(query,
                { QStringLiteral("-c"), QStringLiteral("xfce4-power-manager"), QStringLiteral("-p"),
                    QStringLiteral("/xfce4-power-manager/") + set[i], QStringLiteral("-n"), QStringLiteral("-t"),
                    set[i + 1], QStringLiteral("-s"), set[i + 2] });
            QVERIFY(process.waitForFinished(15000));
            QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        }
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("XFCE"));
        QCOMPARE(listing(), expected(inUse));
    }

    void xfceWithoutXfconfdSaysNothing()
    {
        // A session bus that cannot start xfconfd: nothing of Xfce's is known.
        QVERIFY2(start(), qPrintable(error));
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("XFCE"));
        QCOMPARE(listing(), expected(QByteArray()));
    }
};

QTEST_GUILESS_MAIN(TestPmsetDesktops)
#include "tst_pmsetdesktops.moc"
