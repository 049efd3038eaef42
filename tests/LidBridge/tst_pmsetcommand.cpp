#include "PmsetCommand.h"

#include <QTest>

class TestPmsetCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandLines()
    {
        QCOMPARE(PmsetCommand::readArguments(), QStringList{ QStringLiteral("-g") });
        QCOMPARE(PmsetCommand::writeArguments(true),
            (QStringList{ QStringLiteral("-a"), QStringLiteral("disablesleep"), QStringLiteral("1") }));
        QCOMPARE(PmsetCommand::writeArguments(false).last(), QStringLiteral("0"));
    }

    void sleepDisabled_data()
    {
        QTest::addColumn<QString>("listing");
        QTest::addColumn<bool>("disabled");

        QTest::newRow("empty") << QString() << false;
        QTest::newRow("blanks and tabs") << QStringLiteral("   SleepDisabled\t\t1") << true;
        QTest::newRow("zero") << QStringLiteral("SleepDisabled 0") << false;
        QTest::newRow("key alone") << QStringLiteral("SleepDisabled") << false;
        QTest::newRow("lower case") << QStringLiteral(" sleepdisabled 1") << false;
        QTest::newRow("remark after the value") << QStringLiteral(" SleepDisabled 1 (by wakora)") << false;
        QTest::newRow("middle of a listing")
            << QStringLiteral("System-wide power settings:\n SleepDisabled\t\t1\nCurrently in use:\n sleep 0\n")
            << true;
        QTest::newRow("first line wins") << QStringLiteral(" SleepDisabled 0\n SleepDisabled 1\n") << false;
        QTest::newRow("key not first") << QStringLiteral(" xSleepDisabled 1\n sleep SleepDisabled 1") << false;
    }

    void sleepDisabled()
    {
        QFETCH(QString, listing);
        QFETCH(bool, disabled);
        QCOMPARE(PmsetCommand::sleepDisabled(listing), disabled);
    }

    void everyLineBreakKind_data()
    {
        QTest::addColumn<QString>("lineBreak");
        QTest::newRow("LF") << QStringLiteral("\n");
        QTest::newRow("VT") << QStringLiteral("\v");
        QTest::newRow("FF") << QStringLiteral("\f");
        QTest::newRow("CR") << QStringLiteral("\r");
        QTest::newRow("CR LF") << QStringLiteral("\r\n");
        QTest::newRow("NEL") << QString(QChar(0x0085));
        QTest::newRow("LS") << QString(QChar(0x2028));
        QTest::newRow("PS") << QString(QChar(0x2029));
    }

    void everyLineBreakKind()
    {
        QFETCH(QString, lineBreak);
        // The key only starts a line when the break before it is recognised.
        const QString listing = QStringLiteral("System-wide power settings:") + lineBreak
            + QStringLiteral(" SleepDisabled 1") + lineBreak + QStringLiteral(" sleep 10");
        QVERIFY(PmsetCommand::sleepDisabled(listing));
        const auto lines = PmsetCommand::lines(listing);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1], u" SleepDisabled 1");
    }

    void emptyLinesAreDropped()
    {
        const auto lines = PmsetCommand::lines(u"\r\n\r\na\n\n\u2028b\r");
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], u"a");
        QCOMPARE(lines[1], u"b");
    }
};

QTEST_GUILESS_MAIN(TestPmsetCommand)
#include "tst_pmsetcommand.moc"
