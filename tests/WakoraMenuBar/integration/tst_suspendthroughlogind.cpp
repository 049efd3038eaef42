#include "InhibitMocks.h"
#include "PrivateBus.h"
#include "SuspendAfterSession.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The call that puts the machine to sleep, against python-dbusmock's logind
// on a private system bus: a real logind cannot run there (it needs systemd
// as PID 1 and the machine's seats), and a real suspend here would put the
// test machine to sleep. The booted system tests suspend for real.
class TestSuspendThroughLogind : public QObject
{
    Q_OBJECT

    std::unique_ptr<MockBuses> buses;
    DBusMock *logind = nullptr;
    QString error;

    QDBusConnection systemBus() { return buses->bus(MockBuses::system).connection(); }

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString reason = MockBuses::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
    }

    void init()
    {
        buses = std::make_unique<MockBuses>();
        QVERIFY2(buses->start(&error), qPrintable(error));
        logind = InhibitMocks::startLogind(*buses, &error);
        QVERIFY2(logind, qPrintable(error));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            buses->printLogs();
        buses.reset();
        logind = nullptr;
    }

    void asksLogindWithoutInteractiveAuthorization()
    {
        const auto cause = QCoro::waitFor(SuspendAfterSession::suspendThroughLogind(systemBus()));
        QCOMPARE(cause, std::nullopt);
        const QList<QVariantList> calls = logind->callsOf(u"Suspend"_s);
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.first(), QVariantList{ QVariant(false) });
    }

    void aRefusalNamesItsCause()
    {
        // As logind answers when polkit says no.
        QVERIFY(logind->addMethod(InhibitMocks::logindInterface, u"Suspend"_s, u"b"_s, QString(),
            u"raise dbus.exceptions.DBusException('Access denied', "
            "name='org.freedesktop.DBus.Error.AccessDenied')"_s));
        const auto cause = QCoro::waitFor(SuspendAfterSession::suspendThroughLogind(systemBus()));
        QVERIFY(cause);
        QVERIFY2(cause->contains(u"Access denied"_s), qUtf8Printable(*cause));
        QVERIFY2(cause->contains(u"org.freedesktop.DBus.Error.AccessDenied"_s), qUtf8Printable(*cause));
    }

    void noLogindIsACauseToo()
    {
        buses->removeMock(logind);
        logind = nullptr;
        const auto cause = QCoro::waitFor(SuspendAfterSession::suspendThroughLogind(systemBus()));
        QVERIFY(cause);
        QVERIFY2(cause->contains(u"org.freedesktop.DBus.Error.ServiceUnknown"_s), qUtf8Printable(*cause));
    }
};

QTEST_GUILESS_MAIN(TestSuspendThroughLogind)
#include "tst_suspendthroughlogind.moc"
