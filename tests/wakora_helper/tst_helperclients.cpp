#include "HelperClients.h"

#include <QTest>

// When a caller leaving the bus means the setting goes back, and whose
// requests may change it.
class TestHelperClients : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theOwnerLeavingRestoresWhileOthersStay()
    {
        HelperClients clients;
        clients.admit(QStringLiteral(":1.10"), 1000);
        clients.admit(QStringLiteral(":1.11"), 1000);
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
        clients.admit(QStringLiteral(":1.10"), 1000);
        clients.admit(QStringLiteral(":1.11"), 1001);
        clients.takeOwnership(QStringLiteral(":1.10"));
        QVERIFY(!clients.leave(QStringLiteral(":1.11")));
        QCOMPARE(clients.owner()->name, QStringLiteral(":1.10"));
    }

    void ownershipStaysWithTheFirstThatEnabled()
    {
        HelperClients clients;
        clients.admit(QStringLiteral(":1.10"), 1000);
        clients.admit(QStringLiteral(":1.11"), 1001);
        clients.takeOwnership(QStringLiteral(":1.10"));
        // Another user's enable never moves it.
        clients.takeOwnership(QStringLiteral(":1.11"));
        QCOMPARE(clients.owner()->uid, uid_t(1000));
        QVERIFY(clients.ownedByAnotherUser(1001));
        QVERIFY(!clients.ownedByAnotherUser(1000));
        QVERIFY(!clients.leave(QStringLiteral(":1.11")));
        QVERIFY(clients.leave(QStringLiteral(":1.10")));
        QVERIFY(!clients.ownedByAnotherUser(1001));
    }

    // An upgrade's new agent enables before the old one leaves: the mode
    // moves to it, and only its own leaving gives the setting back.
    void aLaterEnableOfTheSameUserTakesTheModeOver()
    {
        HelperClients clients;
        clients.admit(QStringLiteral(":1.10"), 1000);
        clients.admit(QStringLiteral(":1.11"), 1000);
        clients.admit(QStringLiteral(":1.12"), 1001);
        clients.takeOwnership(QStringLiteral(":1.10"));
        clients.takeOwnership(QStringLiteral(":1.11"));
        QCOMPARE(clients.owner()->name, QStringLiteral(":1.11"));
        QVERIFY(!clients.leave(QStringLiteral(":1.10")));
        QCOMPARE(clients.owner()->name, QStringLiteral(":1.11"));
        // Another user still can neither take it nor keep it on.
        clients.takeOwnership(QStringLiteral(":1.12"));
        QCOMPARE(clients.owner()->name, QStringLiteral(":1.11"));
        QVERIFY(clients.leave(QStringLiteral(":1.11")));
        QVERIFY(!clients.owner());
    }

    void aReleasedModeIsNobodysUntilTheNextEnable()
    {
        HelperClients clients;
        clients.admit(QStringLiteral(":1.10"), 1000);
        clients.admit(QStringLiteral(":1.11"), 1001);
        clients.takeOwnership(QStringLiteral(":1.10"));
        clients.release();
        QVERIFY(!clients.ownedByAnotherUser(1001));
        clients.takeOwnership(QStringLiteral(":1.11"));
        QVERIFY(clients.ownedByAnotherUser(1000));
    }

    void namesThatNeverWereClientsChangeNothing()
    {
        HelperClients clients;
        clients.admit(QStringLiteral(":1.10"), 1000);
        // Not a client: cannot own.
        clients.takeOwnership(QStringLiteral(":1.99"));
        QVERIFY(!clients.owner());
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
