#include "FakeRunningApplications.h"
#include "InhibitMocks.h"
#include "InhibitorPowerControl.h"
#include "SystemPowerStatus.h"

#include <QCoroTask>
#include <QTest>

#include <cerrno>

using namespace InhibitMocks;

// The status reader against a mocked logind, and against the real
// wakora-pmset reading the mock's properties.
class TestSystemPowerStatusOnBus : public QObject
{
    Q_OBJECT

    std::unique_ptr<MockBuses> buses;
    QString error;

    SystemPowerStatus newStatus()
    {
        return SystemPowerStatus(buses->bus(MockBuses::system).newConnection(),
            buses->bus(MockBuses::session).newConnection(), std::make_shared<FakeRunningApplications>(),
            QStringLiteral(WAKORA_PMSET_BUILD_PATH));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString reason = MockBuses::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
        // wakora-pmset would read a desktop's own idle settings instead of the mocked logind's.
        qunsetenv("XDG_CURRENT_DESKTOP");
    }

    void init()
    {
        buses = std::make_unique<MockBuses>();
        QVERIFY2(buses->start(&error), qPrintable(error));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            buses->printLogs();
        buses.reset();
    }

    void nobodyInhibitingIsAnEmptyList()
    {
        QVERIFY2(startLogind(*buses, &error), qPrintable(error));
        SystemPowerStatus status = newStatus();
        const auto result = QCoro::waitFor(status.assertions());
        QVERIFY(result);
        QVERIFY(result.value().isEmpty());
    }

    void logindsEntriesComeOutSorted()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        QVERIFY(
            logind->addMethod(logindInterface, QStringLiteral("ListInhibitors"), QString(), QStringLiteral("a(ssssuu)"),
                QStringLiteral("ret = dbus.Array(["
                               "('sleep', 'Video', 'Playing', 'block', dbus.UInt32(1000), dbus.UInt32(4242)),"
                               "('handle-lid-switch', '', '', 'block', dbus.UInt32(0), dbus.UInt32(700)),"
                               "('idle', 'Video', 'Playing', 'block', dbus.UInt32(1000), dbus.UInt32(4242)),"
                               "('sleep:idle', 'GNOME Shell', 'Screen is locked', 'delay', dbus.UInt32(1000), "
                               "dbus.UInt32(700))], signature='(ssssuu)')")));
        SystemPowerStatus status = newStatus();
        const auto result = QCoro::waitFor(status.assertions());
        QVERIFY(result);
        const QList<ProcessAssertion> expected{
            { 700, QStringLiteral("handle-lid-switch"), QString(), std::nullopt },
            { 700, QStringLiteral("sleep:idle"), QStringLiteral("Screen is locked"), QStringLiteral("GNOME Shell") },
            { 4242, QStringLiteral("idle"), QStringLiteral("Playing"), QStringLiteral("Video") },
            { 4242, QStringLiteral("sleep"), QStringLiteral("Playing"), QStringLiteral("Video") },
        };
        QCOMPARE(result.value(), expected);
    }

    void ourOwnInhibitIsListed()
    {
        QVERIFY2(startLogind(*buses, &error), qPrintable(error));
        InhibitorPowerControl control(
            buses->bus(MockBuses::system).newConnection(), buses->bus(MockBuses::session).newConnection());
        const auto id = QCoro::waitFor(control.createAssertion(AssertionKind::systemSleep));
        QVERIFY(id);
        SystemPowerStatus status = newStatus();
        const auto result = QCoro::waitFor(status.assertions());
        QVERIFY(result);
        QCOMPARE(result.value().size(), 1);
        QCOMPARE(result.value().first().type, QStringLiteral("sleep"));
        QCOMPARE(result.value().first().reason, QStringLiteral("Wakora: prevent system sleep"));
        QCOMPARE(result.value().first().processName, QStringLiteral("Wakora"));
    }

    void queryFailures_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("status");
        QTest::newRow("logind missing") << QString() << -ENOENT;
        QTest::newRow("access denied") << QStringLiteral(
            "raise dbus.exceptions.DBusException('no', name='org.freedesktop.DBus.Error.AccessDenied')")
                                       << -EACCES;
        // An answer of another shape is no usable answer: status 0.
        QTest::newRow("unexpected shape") << QStringLiteral("ret = [('sleep', 'x')]") << 0;
    }

    void queryFailures()
    {
        QFETCH(QString, code);
        QFETCH(int, status);
        if (!code.isEmpty()) {
            DBusMock *logind = startLogind(*buses, &error);
            QVERIFY2(logind, qPrintable(error));
            const QString out = status == 0 ? QStringLiteral("a(ss)") : QStringLiteral("a(ssssuu)");
            QVERIFY(logind->addMethod(logindInterface, QStringLiteral("ListInhibitors"), QString(), out, code));
        }
        SystemPowerStatus reader = newStatus();
        const auto result = QCoro::waitFor(reader.assertions());
        QVERIFY(!result);
        QCOMPARE(result.error(), PowerStatusError::assertionQueryFailed(status));
    }

    void settingsComeFromTheCommand()
    {
        DBusMock *logind = startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
        for (const char *key : { "HandleLidSwitch", "HandleLidSwitchExternalPower", "HandleLidSwitchDocked" })
            QVERIFY(logind->addProperty(logindInterface, QString::fromLatin1(key), QStringLiteral("ignore")));
        QVERIFY(logind->updateProperties(logindInterface,
            { { QStringLiteral("IdleAction"), QStringLiteral("suspend") },
                { QStringLiteral("IdleActionUSec"), QVariant::fromValue(quint64(15) * 60 * 1000000) } }));

        SystemPowerStatus status = newStatus();
        const auto result = QCoro::waitFor(status.settings());
        QVERIFY2(result, result ? "" : qPrintable(result.error().errorDescription()));
        const QList<PowerSetting> expected{
            { QStringLiteral("System-wide power settings"), QStringLiteral("SleepDisabled"), QStringLiteral("1") },
            { QStringLiteral("Currently in use"), QStringLiteral("sleep"), QStringLiteral("15") },
        };
        QCOMPARE(result.value(), expected);
    }

    void settingsWithoutLogindFail()
    {
        SystemPowerStatus status = newStatus();
        const auto result = QCoro::waitFor(status.settings());
        QVERIFY(!result);
        QCOMPARE(result.error(), PowerStatusError::pmsetFailed(1));
    }
};

QTEST_GUILESS_MAIN(TestSystemPowerStatusOnBus)
#include "tst_systempowerstatus.moc"
