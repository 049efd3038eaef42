#include "ClamshellClient.h"

#include <QTest>

// How the agent reads one reply of the helper: the text first, then the mode.
class TestClamshellClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void repliesMapToActivations_data()
    {
        QTest::addColumn<qint64>("mode");
        QTest::addColumn<QStringList>("failure");
        QTest::addColumn<std::optional<ClamshellActivation>>("activation");
        QTest::addColumn<QString>("error");
        using A = ClamshellActivation;
        QTest::newRow("owned") << qint64(1) << QStringList{} << std::optional(A::ownedByApp) << QString();
        QTest::newRow("set elsewhere") << qint64(2) << QStringList{} << std::optional(A::onOutsideApp) << QString();
        QTest::newRow("off") << qint64(0) << QStringList{} << std::optional(A::off) << QString();
        QTest::newRow("unknown mode 5") << qint64(5) << QStringList{} << std::optional(A::off) << QString();
        QTest::newRow("negative mode") << qint64(-1) << QStringList{} << std::optional(A::off) << QString();
        QTest::newRow("failure text") << qint64(0) << QStringList{ QStringLiteral("Unsafe marker directory") }
                                      << std::optional<A>() << QStringLiteral("Unsafe marker directory");
        // A text means failure whatever the mode says.
        QTest::newRow("failure text with mode 1") << qint64(1) << QStringList{ QStringLiteral("pmset exited with 1") }
                                                  << std::optional<A>() << QStringLiteral("pmset exited with 1");
    }

    void repliesMapToActivations()
    {
        QFETCH(qint64, mode);
        QFETCH(QStringList, failure);
        QFETCH(std::optional<ClamshellActivation>, activation);
        QFETCH(QString, error);
        const auto result = ClamshellClient::activationFromReply(mode, failure);
        QCOMPARE(result.hasValue(), activation.has_value());
        if (activation)
            QCOMPARE(result.value(), *activation);
        else
            QCOMPARE(result.error(), error);
    }
};

QTEST_GUILESS_MAIN(TestClamshellClient)
#include "tst_clamshellclient.moc"
