#include "ApplicationInstance.h"
#include "PrivateBus.h"

#include <QTest>
#include <QThread>

#include <atomic>

// One main application per session: a later launch has the first one
// present its window and is told to end.
class TestApplicationInstance : public QObject
{
    Q_OBJECT

    QTemporaryDir directory;
    PrivateBus bus{ QStringLiteral("session") };

private Q_SLOTS:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("dbus-daemon is not installed");
        QString error;
        QVERIFY2(bus.start(directory.path(), &error), qPrintable(error));
    }

    void aSecondLaunchPresentsTheFirst()
    {
        int presented = 0;
        ApplicationInstance first(bus.newConnection(), [&presented] { ++presented; });
        QCOMPARE(first.claim(), ApplicationInstance::Claim::claimed);

        // The second launch blocks on its request, as a starting process
        // does; the first answers from its event loop.
        std::atomic<int> second{ -1 };
        const QString address = bus.address();
        std::unique_ptr<QThread> launch(QThread::create([&second, address] {
            QDBusConnection connection = QDBusConnection::connectToBus(address, QStringLiteral("second-launch"));
            {
                ApplicationInstance instance(connection, [] {});
                second = int(instance.claim());
            }
            QDBusConnection::disconnectFromBus(QStringLiteral("second-launch"));
        }));
        launch->start();
        QTRY_VERIFY(second != -1);
        launch->wait();
        QCOMPARE(ApplicationInstance::Claim(second.load()), ApplicationInstance::Claim::presentedOther);
        QCOMPARE(presented, 1);
    }

    void theNameIsFreeAgainAfterTheFirstEnds()
    {
        {
            ApplicationInstance first(bus.newConnection(), [] {});
            QCOMPARE(first.claim(), ApplicationInstance::Claim::claimed);
        }
        ApplicationInstance next(bus.newConnection(), [] {});
        QCOMPARE(next.claim(), ApplicationInstance::Claim::claimed);
    }
};

QTEST_GUILESS_MAIN(TestApplicationInstance)
#include "tst_applicationinstance.moc"
