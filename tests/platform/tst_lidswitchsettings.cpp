#include "LidSwitchSettings.h"

#include <QTest>

// SleepDisabled from logind's three lid properties, as real logind reports
// them: an unset HandleLidSwitchExternalPower is "", and means "as HandleLidSwitch".
class TestLidSwitchSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sleepDisabled_data()
    {
        // Each value: the property's text, or absent for a null QVariant.
        QTest::addColumn<QVariant>("lid");
        QTest::addColumn<QVariant>("externalPower");
        QTest::addColumn<QVariant>("docked");
        QTest::addColumn<bool>("expected");
        const QVariant ignore = QStringLiteral("ignore");
        const QVariant suspend = QStringLiteral("suspend");
        const QVariant unset = QString(); // how logind reports what nobody set
        const QVariant absent;

        QTest::newRow("ignored everywhere") << ignore << ignore << ignore << true;
        QTest::newRow("external power unset follows the lid (Debian 12)") << ignore << unset << ignore << true;
        QTest::newRow("external power unset follows a suspending lid") << suspend << unset << ignore << false;
        QTest::newRow("suspends on external power") << ignore << suspend << ignore << false;
        QTest::newRow("logind without the external power setting") << ignore << absent << ignore << true;
        QTest::newRow("suspends when docked") << ignore << ignore << suspend << false;
        QTest::newRow("docked empty is no action logind knows") << ignore << ignore << unset << false;
        QTest::newRow("docked absent") << ignore << unset << absent << false;
        QTest::newRow("lid suspends") << suspend << ignore << ignore << false;
        QTest::newRow("lid unset is no action logind knows") << unset << unset << ignore << false;
        QTest::newRow("nothing reported") << absent << absent << absent << false;
        QTest::newRow("lock is not ignore") << QVariant(QStringLiteral("lock")) << ignore << ignore << false;
    }

    void sleepDisabled()
    {
        QFETCH(QVariant, lid);
        QFETCH(QVariant, externalPower);
        QFETCH(QVariant, docked);
        QFETCH(bool, expected);
        QVariantMap properties{ { QStringLiteral("IdleAction"), QStringLiteral("ignore") } };
        const QVariantList values{ lid, externalPower, docked };
        for (qsizetype i = 0; i < values.size(); ++i)
            if (values[i].isValid())
                properties.insert(LidSwitchSettings::keys[i], values[i]);

        QCOMPARE(LidSwitchSettings::fromProperties(properties).sleepDisabled(), expected);
    }
};

QTEST_GUILESS_MAIN(TestLidSwitchSettings)
#include "tst_lidswitchsettings.moc"
