// The remote-login trigger against python-dbusmock's logind on a private
// system bus: the real logind cannot run on a bus of a test's own (it needs
// to be the system's, as PID 1's child). A real SSH login to the real logind
// belongs to the system tests on a booted Debian.

#include "PrivateBus.h"
#include "RemoteLoginTrigger.h"

#include <QDBusObjectPath>
#include <QTest>

namespace {

const QString logindName = QStringLiteral("org.freedesktop.login1");
const QString logindPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");

DBusMock *startLogind(MockBuses &buses, QString *error)
{
    return buses.startTemplate(MockBuses::system, QStringLiteral("logind"), logindName, logindPath, error);
}

// A session as logind makes one: its object is complete before SessionNew.
// Empty on failure, else the session's path.
QString openSession(
    DBusMock *logind, const QString &id, uint uid, const QString &user, bool remote, const QString &host = QString())
{
    const QDBusMessage added
        = logind->mockCall(QStringLiteral("AddSession"), { id, QStringLiteral("seat0"), uid, user, true });
    const QString path = added.arguments().value(0).toString(); // the mock answers the path as a string
    if (path.isEmpty())
        return QString();
    const QVariantMap properties{ { QStringLiteral("Remote"), remote }, { QStringLiteral("RemoteHost"), host } };
    if (logind
            ->mockCall(QStringLiteral("UpdateProperties"),
                { QStringLiteral("org.freedesktop.login1.Session"), properties }, path)
            .type()
        != QDBusMessage::ReplyMessage)
        return QString();
    if (logind
            ->mockCall(QStringLiteral("EmitSignal"),
                { managerInterface, QStringLiteral("SessionNew"), QStringLiteral("so"),
                    QVariantList{ id, QVariant::fromValue(QDBusObjectPath(path)) } })
            .type()
        != QDBusMessage::ReplyMessage)
        return QString();
    return path;
}

bool closeSession(DBusMock *logind, const QString &id)
{
    const QDBusObjectPath path(QStringLiteral("/org/freedesktop/login1/session/") + id);
    const QDBusMessage removed = logind->mockCall(QStringLiteral("EmitSignal"),
        { managerInterface, QStringLiteral("SessionRemoved"), QStringLiteral("so"),
            QVariantList{ id, QVariant::fromValue(path) } });
    return removed.type() == QDBusMessage::ReplyMessage
        && logind->mockCall(QStringLiteral("RemoveObject"), { QVariant::fromValue(path) }).type()
        == QDBusMessage::ReplyMessage;
}

struct Changes {
    explicit Changes(Trigger &trigger)
    {
        QObject::connect(&trigger, &Trigger::activeChanged, &trigger, [this, &trigger] {
            seen.append({ trigger.isActive(), trigger.subject() });
        });
    }
    QList<std::pair<bool, QString>> seen;
};

} // namespace

class RemoteLoginTriggerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        if (const QString why = MockBuses::unavailableReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
    }

    void followsRemoteSessionsAndIgnoresLocalOnes()
    {
        MockBuses buses;
        QString error;
        QVERIFY2(buses.start(&error), qPrintable(error));
        auto failed = qScopeGuard([&buses] { buses.printLogs(); });
        DBusMock *logind = startLogind(buses, &error);
        QVERIFY2(logind, qPrintable(error));
        // Sessions open before the trigger starts are listed.
        QVERIFY(!openSession(logind, QStringLiteral("c1"), 1000, QStringLiteral("alice"), false).isEmpty());
        QVERIFY(!openSession(
            logind, QStringLiteral("3"), 1001, QStringLiteral("bob"), true, QStringLiteral("laptop.example"))
                     .isEmpty());

        RemoteLoginTrigger trigger(buses.bus(MockBuses::system).newConnection());
        QVERIFY(!trigger.unavailable());
        Changes changes(trigger);
        trigger.start({});
        QTRY_VERIFY(trigger.isActive());
        QCOMPARE(trigger.subject(), QStringLiteral("bob@laptop.example"));

        // Another local session changes nothing; a second remote one is counted.
        QVERIFY(!openSession(logind, QStringLiteral("4"), 1000, QStringLiteral("alice"), false).isEmpty());
        QVERIFY(!openSession(logind, QStringLiteral("5"), 1002, QStringLiteral("carol"), true).isEmpty());
        QTRY_COMPARE(trigger.subject(), QStringLiteral("bob@laptop.example 외 1개"));

        QVERIFY(closeSession(logind, QStringLiteral("3")));
        QTRY_COMPARE(trigger.subject(), QStringLiteral("carol"));
        QVERIFY(closeSession(logind, QStringLiteral("5")));
        QTRY_VERIFY(!trigger.isActive());

        const QList<std::pair<bool, QString>> expected{ { true, QStringLiteral("bob@laptop.example") },
            { true, QStringLiteral("bob@laptop.example 외 1개") }, { true, QStringLiteral("carol") },
            { false, QString() } };
        QCOMPARE(changes.seen, expected);

        // Local sessions alone, opened and closed, never count.
        QVERIFY(closeSession(logind, QStringLiteral("4")));
        QVERIFY(!openSession(logind, QStringLiteral("6"), 1000, QStringLiteral("alice"), false).isEmpty());
        QTest::qWait(300);
        QVERIFY(!trigger.isActive());
        QCOMPARE(changes.seen.size(), expected.size());
        failed.dismiss();
    }

    void unavailableUntilLogindComes()
    {
        MockBuses buses;
        QString error;
        QVERIFY2(buses.start(&error), qPrintable(error));
        auto failed = qScopeGuard([&buses] { buses.printLogs(); });

        RemoteLoginTrigger trigger(buses.bus(MockBuses::system).newConnection());
        QVERIFY(trigger.unavailable().has_value());
        QVERIFY(trigger.unavailable()->contains(QStringLiteral("logind")));
        trigger.start({});
        QTRY_VERIFY(trigger.unavailable().has_value());
        QVERIFY(!trigger.isActive());

        // logind starting (or restarting) is followed: its sessions are listed then.
        DBusMock *logind = startLogind(buses, &error);
        QVERIFY2(logind, qPrintable(error));
        QVERIFY(
            !openSession(logind, QStringLiteral("7"), 1001, QStringLiteral("bob"), true, QStringLiteral("192.0.2.4"))
                 .isEmpty());
        QTRY_VERIFY(!trigger.unavailable());
        QTRY_VERIFY(trigger.isActive());
        QCOMPARE(trigger.subject(), QStringLiteral("bob@192.0.2.4"));

        // logind leaving takes its sessions along.
        buses.removeMock(logind);
        QTRY_VERIFY(!trigger.isActive());
        QVERIFY(trigger.unavailable().has_value());
        failed.dismiss();
    }

    void aStoppedTriggerReactsToNothing()
    {
        MockBuses buses;
        QString error;
        QVERIFY2(buses.start(&error), qPrintable(error));
        auto failed = qScopeGuard([&buses] { buses.printLogs(); });
        DBusMock *logind = startLogind(buses, &error);
        QVERIFY2(logind, qPrintable(error));
        QVERIFY(!openSession(logind, QStringLiteral("3"), 1001, QStringLiteral("bob"), true, QStringLiteral("h"))
                     .isEmpty());

        RemoteLoginTrigger trigger(buses.bus(MockBuses::system).newConnection());
        trigger.start({});
        QTRY_VERIFY(trigger.isActive());
        Changes changes(trigger);
        trigger.stop();
        QVERIFY(!trigger.isActive());

        QVERIFY(closeSession(logind, QStringLiteral("3")));
        QVERIFY(!openSession(logind, QStringLiteral("8"), 1002, QStringLiteral("carol"), true).isEmpty());
        QTest::qWait(300);
        QVERIFY(!trigger.isActive());
        QVERIFY(changes.seen.isEmpty());

        trigger.start({});
        QTRY_COMPARE(trigger.subject(), QStringLiteral("carol"));
        failed.dismiss();
    }
};

QTEST_GUILESS_MAIN(RemoteLoginTriggerTest)
#include "tst_remotelogintrigger.moc"
