#include "ConditionsDialog.h"
#include "SessionConditions.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

// The conditions dialog gives back what it was given, and what the user
// changed; the window's line says the same in a few words.
class TestConditionsDialog : public QObject
{
    Q_OBJECT

    template <typename T> static T *find(QWidget *dialog, const char *identifier)
    {
        return dialog->findChild<T *>(QLatin1String(identifier));
    }

private Q_SLOTS:
    void summaryNamesEachConditionSet()
    {
        // The lid's guards are on by default and shown with the lid's switch, not here.
        QCOMPARE(SessionConditions{}.summary(), QString());
        QCOMPARE((SessionConditions{ true, 0, {}, false, {} }).summary(), QStringLiteral("전원 연결 시에만"));
        QCOMPARE((SessionConditions{ true, 20, QStringLiteral("org.gnome.Totem"), true, {} }).summary(),
            QStringLiteral("전원 연결 시에만 · 배터리 20% 미만이면 끔 · org.gnome.Totem 실행 중 켬"));
    }

    void roundTripAndEdits()
    {
        ConditionsDialog dialog;
        const SessionConditions set{ false, 15, QStringLiteral("org.gnome.Totem"), true, { false, 25, true } };
        dialog.setConditions(set);
        QCOMPARE(dialog.conditions(), set);
        QVERIFY(find<QSpinBox>(&dialog, "conditions.batteryFloor")->isEnabled());

        // Unticking a condition clears it, whatever its field still holds.
        find<QCheckBox>(&dialog, "conditions.batteryFloorSet")->setChecked(false);
        find<QCheckBox>(&dialog, "conditions.applicationSet")->setChecked(false);
        find<QCheckBox>(&dialog, "conditions.onlyOnAC")->setChecked(true);
        QVERIFY(!find<QSpinBox>(&dialog, "conditions.batteryFloor")->isEnabled());
        QVERIFY(!find<QLineEdit>(&dialog, "conditions.application")->isEnabled());
        QCOMPARE(dialog.conditions(), (SessionConditions{ true, 0, {}, false, { false, 25, true } }));

        // The lid's guards: the bag's minutes go with its box, and "never" is 0.
        QCOMPARE(find<QSpinBox>(&dialog, "conditions.lidBagMinutes")->value(), 25);
        find<QCheckBox>(&dialog, "conditions.lidBagSet")->setChecked(false);
        QVERIFY(!find<QSpinBox>(&dialog, "conditions.lidBagMinutes")->isEnabled());
        find<QCheckBox>(&dialog, "conditions.lidPowerRules")->setChecked(true);
        find<QCheckBox>(&dialog, "conditions.lidThermal")->setChecked(false);
        QCOMPARE(dialog.conditions().lidGuards, (LidGuardRules{ true, 0, false }));

        // An application id is taken without surrounding blanks.
        find<QCheckBox>(&dialog, "conditions.applicationSet")->setChecked(true);
        find<QLineEdit>(&dialog, "conditions.application")->setText(QStringLiteral("  firefox-esr "));
        QCOMPARE(dialog.conditions().application, QStringLiteral("firefox-esr"));

        // A refusal shows in the dialog; new conditions clear it.
        dialog.show();
        dialog.showError(QStringLiteral("설정을 변경하지 못했습니다. (Unknown application)"));
        QVERIFY(find<QLabel>(&dialog, "conditions.error")->isVisible());
        dialog.setConditions({});
        QVERIFY(!find<QLabel>(&dialog, "conditions.error")->isVisible());
        QCOMPARE(dialog.conditions(), SessionConditions{});
    }
};

QTEST_MAIN(TestConditionsDialog)
#include "tst_conditionsdialog.moc"
