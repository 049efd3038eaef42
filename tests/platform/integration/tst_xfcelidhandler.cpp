#include "DesktopLidSettings.h"
#include "InhibitMocks.h"
#include "RealXfcePowerManager.h"
#include "StartOrSkip.h"

#include <QCoroTask>
#include <QProcess>
#include <QTest>

// The real xfce4-power-manager with its default logind-handle-lid-switch
// false runs the lid itself behind logind's handle-lid-switch lock, which
// it takes through the logind mock: the lid-closed mode finds it there,
// whatever the session's desktop is called. Told to leave the lid to
// logind, it lets go of the lock, and the mode works again.
class TestXfceLidHandler : public QObject
{
    Q_OBJECT

    XvfbDisplay display;
    MockBuses buses;
    RealXfcePowerManager xfpm;
    QString error;

    // 4.18 (Debian 12) takes its lock at start; 4.20 takes none on a machine without a lid.
    static bool takesTheLidLock()
    {
        QProcess query;
        query.start(QStringLiteral("dpkg-query"),
            { QStringLiteral("-W"), QStringLiteral("-f=${Version}"), QStringLiteral("xfce4-power-manager") });
        query.waitForFinished(10000);
        return query.readAllStandardOutput().startsWith("4.18");
    }

    QString lidHandler()
    {
        return QCoro::waitFor(DesktopLidSettings::readLidHandler(buses.bus(MockBuses::system).connection()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString reason = MockBuses::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
        if (!takesTheLidLock())
            QSKIP("this xfce4-power-manager takes no lid lock here");
        WAKORA_START_OR_SKIP(display.start());
        QVERIFY2(buses.start(&error), qPrintable(error));
        QVERIFY2(InhibitMocks::startLogind(buses, &error), qPrintable(error));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            xfpm.printLogs();
            buses.printLogs();
        }
    }

    void isFoundRunningTheLidAndLetsGoWhenToldTo()
    {
        QCOMPARE(lidHandler(), QString());
        WAKORA_START_OR_SKIP(xfpm.start(buses, display));
        QTRY_COMPARE(lidHandler(), QStringLiteral("xfce4-power-manager"));
        QCOMPARE(DesktopLidSettings::settingsName(lidHandler()), QStringLiteral("Xfce"));

        QProcess query;
        query.setProcessEnvironment(buses.environment());
        query.start(QStringLiteral("xfconf-query"),
            { QStringLiteral("-c"), QStringLiteral("xfce4-power-manager"), QStringLiteral("-p"),
                QStringLiteral("/xfce4-power-manager/logind-handle-lid-switch"), QStringLiteral("-n"),
                QStringLiteral("-t"), QStringLiteral("bool"), QStringLiteral("-s"), QStringLiteral("true") });
        if (!query.waitForFinished(10000) || query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
            QSKIP("xfconf-query cannot set the power manager's setting here");
        QTRY_COMPARE_WITH_TIMEOUT(lidHandler(), QString(), 5000);
    }
};

QTEST_GUILESS_MAIN(TestXfceLidHandler)
#include "tst_xfcelidhandler.moc"
