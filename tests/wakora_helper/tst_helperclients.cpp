#include "HelperClients.h"

#include <QTest>

// When a caller leaving the bus means the setting goes back.
class TestHelperClients : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theOwnerLeavingRestoresWhileOthersStay()
    {
        HelperClients clients;
        clients.admit(QStringLiteral(":1.10"));
        clients.admit(QStringLiteral(":1.11"));
        clients.takeOwnership(QStringLiteral(":1.10"));
        QVERIFY(clients.leave(QStringLiteral(":1.10")));
        QVERIFY(!clients.owner());
        QCOMPARE(clients.count(), 1);
        // The last one leaving restores too, though it owned nothing.
        QVERIFY(clients.leave(QStringLiteral(":1.11")));
    }

    void anotherClientLeavingKeepsTheOwner()
    {
        HelperClients clients;
        clients.admit(QStringLiteral(":1.10"));
        clients.admit(QStringLiteral(":1.11"));
        clients.takeOwnership(QStringLiteral(":1.10"));
        QVERIFY(!clients.leave(QStringLiteral(":1.11")));
        QCOMPARE(clients.owner(), std::optional<QString>(QStringLiteral(":1.10")));
    }

    void ownershipMovesToTheLatestThatEnabled()
    {
        HelperClients clients;
        clients.admit(QStringLiteral(":1.10"));
        clients.admit(QStringLiteral(":1.11"));
        clients.takeOwnership(QStringLiteral(":1.10"));
        clients.takeOwnership(QStringLiteral(":1.11"));
        QVERIFY(!clients.leave(QStringLiteral(":1.10")));
        QVERIFY(clients.leave(QStringLiteral(":1.11")));
    }

    void namesThatNeverWereClientsChangeNothing()
    {
        HelperClients clients;
        clients.admit(QStringLiteral(":1.10"));
        clients.takeOwnership(QStringLiteral(":1.10"));
        // A refused caller leaving, or one leaving twice, is not the last client leaving.
        QVERIFY(!clients.leave(QStringLiteral(":1.99")));
        QVERIFY(clients.leave(QStringLiteral(":1.10")));
        QVERIFY(!clients.leave(QStringLiteral(":1.10")));
        QCOMPARE(clients.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHelperClients)
#include "tst_helperclients.moc"
