#include "PmsetParser.h"

#include <QTest>

using Settings = QList<PowerSetting>;

static PowerSetting setting(std::optional<QString> section, const char *name, const char *value)
{
    return { std::move(section), QString::fromUtf8(name), QString::fromUtf8(value) };
}

// The listing's lines: headings, names with blanks, values with remarks, and
// every line break the command may use.
class TestPmsetParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        const QString inUse = QStringLiteral("Currently in use");
        QTest::addColumn<QString>("listing");
        QTest::addColumn<Settings>("expected");

        QTest::newRow("empty") << QString() << Settings{};
        QTest::newRow("blank lines only") << QStringLiteral("\n  \t \n\n") << Settings{};
        QTest::newRow("heading, then an indented setting")
            << QStringLiteral("Currently in use:\n displaysleep         10\n")
            << Settings{ setting(inUse, "displaysleep", "10") };
        QTest::newRow("value with a remark holding blanks, commas and parentheses")
            << QStringLiteral("Currently in use:\n sleep                1 (sleep prevented by a, b (c))")
            << Settings{ setting(inUse, "sleep", "1 (sleep prevented by a, b (c))") };
        QTest::newRow("name of several words") << QStringLiteral(" Sleep On Power Button 1")
                                               << Settings{ setting(std::nullopt, "Sleep On Power Button", "1") };
        QTest::newRow("single word") << QStringLiteral("lonely") << Settings{ setting(std::nullopt, "lonely", "") };
        QTest::newRow("settings before the first heading have no section")
            << QStringLiteral("womp 1\nSystem-wide power settings:\n SleepDisabled\t\t1\n")
            << Settings{ setting(std::nullopt, "womp", "1"),
                   setting(QStringLiteral("System-wide power settings"), "SleepDisabled", "1") };
        QTest::newRow("heading keeps inner blanks, later heading replaces it")
            << QStringLiteral("A b :\nx 1\nB:\ny 2")
            << Settings{ setting(QStringLiteral("A b "), "x", "1"), setting(QStringLiteral("B"), "y", "2") };
        QTest::newRow("a lone colon is an empty heading")
            << QStringLiteral(":\nx 1") << Settings{ setting(QString(), "x", "1") };
        // A remark that does not close cannot follow a value: the last token is the value.
        QTest::newRow("unclosed remark") << QStringLiteral("sleep 1 (open")
                                         << Settings{ setting(std::nullopt, "sleep 1", "(open") };
        QTest::newRow("trailing blanks are trimmed, not part of the value")
            << QStringLiteral("\t disksleep 10 \t") << Settings{ setting(std::nullopt, "disksleep", "10") };
        QTest::newRow("no-break space trims like a blank")
            << QStringLiteral("\u00a0hibernatemode 3\u00a0") << Settings{ setting(std::nullopt, "hibernatemode", "3") };
    }

    void parse()
    {
        QFETCH(QString, listing);
        QFETCH(Settings, expected);
        QCOMPARE(PmsetParser::parse(listing), expected);
    }

    void everyLineBreakSeparatesLines_data()
    {
        QTest::addColumn<QString>("lineBreak");
        QTest::newRow("LF") << QStringLiteral("\n");
        QTest::newRow("CR") << QStringLiteral("\r");
        QTest::newRow("CR LF") << QStringLiteral("\r\n");
        QTest::newRow("VT") << QStringLiteral("\v");
        QTest::newRow("FF") << QStringLiteral("\f");
        QTest::newRow("NEL") << QStringLiteral("\u0085");
        QTest::newRow("LS") << QStringLiteral("\u2028");
        QTest::newRow("PS") << QStringLiteral("\u2029");
    }

    void everyLineBreakSeparatesLines()
    {
        QFETCH(QString, lineBreak);
        const QString listing = QStringLiteral("Currently in use:") + lineBreak + QStringLiteral(" sleep 5") + lineBreak
            + QStringLiteral(" womp 0") + lineBreak;
        const QString inUse = QStringLiteral("Currently in use");
        // CR LF is one break: no empty setting between the lines either way.
        QCOMPARE(PmsetParser::parse(listing), (Settings{ setting(inUse, "sleep", "5"), setting(inUse, "womp", "0") }));
    }

    void aLongLineStillSplits()
    {
        // The lazy name must not make a long line fall back to an empty value.
        const QString name = QStringLiteral("word ").repeated(2000).trimmed();
        const auto settings = PmsetParser::parse(name + QStringLiteral("   42 (a remark)"));
        QCOMPARE(settings.size(), 1);
        QCOMPARE(settings.first().name, name);
        QCOMPARE(settings.first().value, QStringLiteral("42 (a remark)"));
    }
};

QTEST_APPLESS_MAIN(TestPmsetParser)
#include "tst_pmsetparser.moc"
