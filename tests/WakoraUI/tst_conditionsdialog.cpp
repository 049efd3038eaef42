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
        QCOMPARE((SessionConditions{ true, 0, {}, false, {}, {} }).summary(), QStringLiteral("전원 연결 시에만"));
        QCOMPARE((SessionConditions{ true, 20, QStringLiteral("org.gnome.Totem"), true, {}, {} }).summary(),
            QStringLiteral("전원 연결 시에만 · 배터리 20% 미만이면 끔 · org.gnome.Totem 실행 중 켬"));
    }

    void roundTripAndEdits()
    {
        ConditionsDialog dialog;
        const SessionConditions set{ false, 15, QStringLiteral("org.gnome.Totem"), true, { false, 25, true }, {} };
        dialog.setConditions(set);
        QCOMPARE(dialog.conditions(), set);
        QVERIFY(find<QSpinBox>(&dialog, "conditions.batteryFloor")->isEnabled());

        // Unticking a condition clears it, whatever its field still holds.
        find<QCheckBox>(&dialog, "conditions.batteryFloorSet")->setChecked(false);
        find<QCheckBox>(&dialog, "conditions.applicationSet")->setChecked(false);
        find<QCheckBox>(&dialog, "conditions.onlyOnAC")->setChecked(true);
        QVERIFY(!find<QSpinBox>(&dialog, "conditions.batteryFloor")->isEnabled());
        QVERIFY(!find<QLineEdit>(&dialog, "conditions.application")->isEnabled());
        QCOMPARE(dialog.conditions(), (SessionConditions{ true, 0, {}, false, { false, 25, true }, {} }));

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

    // A box per trigger the agent offers, with its own details; one that
    // cannot work here says why and cannot be ticked.
    void triggersAreOfferedAsTheAgentListsThem()
    {
        ConditionsDialog dialog;
        const TriggerRecord media{ QStringLiteral("media"), false, 3, {}, QString(), false, QString() };
        const TriggerRecord fullscreen{ QStringLiteral("fullscreen"), false, 3, {},
            QStringLiteral("이 데스크톱은 전체 화면 창을 알려 주지 않습니다"), false, QString() };
        const TriggerRecord busy{ QStringLiteral("busy"), true, 1,
            { { QStringLiteral("net"), qint64(250000) }, { QStringLiteral("settle"), qint64(90) } }, QString(), true,
            QStringLiteral("CPU") };
        const TriggerRecord schedule{ QStringLiteral("schedule"), false, 1, {}, QString(), false, QString() };
        SessionConditions set;
        set.triggers = { media, fullscreen, busy, schedule };
        dialog.setConditions(set);
        QCOMPARE(dialog.conditions(), set);

        auto *mediaBox = find<QCheckBox>(&dialog, "conditions.trigger.media");
        QCOMPARE(mediaBox->text(), QStringLiteral("미디어 재생 중"));
        QVERIFY(mediaBox->isEnabled());
        QVERIFY(!find<QCheckBox>(&dialog, "conditions.trigger.media.display")->isEnabled());
        auto *fullscreenBox = find<QCheckBox>(&dialog, "conditions.trigger.fullscreen");
        QCOMPARE(fullscreenBox->text(), QStringLiteral("전체 화면 앱이 있을 때"));
        QVERIFY(!fullscreenBox->isEnabled());
        QCOMPARE(find<QLabel>(&dialog, "conditions.trigger.fullscreen.unavailable")->text(),
            QStringLiteral("사용할 수 없음: 이 데스크톱은 전체 화면 창을 알려 주지 않습니다"));
        QVERIFY(find<QLabel>(&dialog, "conditions.trigger.media.unavailable")->isHidden());
        QCOMPARE(find<QCheckBox>(&dialog, "conditions.trigger.busy")->text(), QStringLiteral("바쁠 때 (네트워크·CPU)"));
        QCOMPARE(find<QLineEdit>(&dialog, "conditions.trigger.busy.net")->text(), QStringLiteral("250k"));
        QCOMPARE(find<QLineEdit>(&dialog, "conditions.trigger.busy.settle")->text(), QStringLiteral("1m30s"));
        QVERIFY(find<QLineEdit>(&dialog, "conditions.trigger.busy.cpu")->text().isEmpty());

        // Ticked with the display: both kinds; typed thresholds as numbers;
        // a cleared field is the trigger's own default.
        mediaBox->setChecked(true);
        find<QCheckBox>(&dialog, "conditions.trigger.media.display")->setChecked(false);
        find<QLineEdit>(&dialog, "conditions.trigger.busy.cpu")->setText(QStringLiteral("70%"));
        find<QLineEdit>(&dialog, "conditions.trigger.busy.net")->clear();
        find<QCheckBox>(&dialog, "conditions.trigger.busy.display")->setChecked(true);
        find<QCheckBox>(&dialog, "conditions.trigger.schedule")->setChecked(true);
        find<QLineEdit>(&dialog, "conditions.trigger.schedule.schedule")
            ->setText(QStringLiteral(" mon-fri  09:00-18:00"));
        const QList<TriggerRecord> chosen = dialog.conditions().triggers;
        QCOMPARE(chosen.size(), 4);
        QVERIFY(chosen.at(0).enabled);
        QCOMPARE(chosen.at(0).kinds, 1);
        QCOMPARE(chosen.at(1), fullscreen);
        QCOMPARE(chosen.at(2).kinds, 3);
        QCOMPARE(chosen.at(2).options,
            (QVariantMap{ { QStringLiteral("cpu"), qint64(70) }, { QStringLiteral("settle"), qint64(90) } }));
        QCOMPARE(
            chosen.at(3).options.value(QStringLiteral("schedule")).toString(), QStringLiteral("mon-fri 09:00-18:00"));
        QCOMPARE((SessionConditions{ false, 0, {}, false, {}, chosen }).summary(),
            QStringLiteral("미디어 재생 중 · 바쁠 때 (네트워크·CPU) · 일정"));

        // A threshold that makes no sense keeps the dialog open and says why.
        dialog.show();
        find<QLineEdit>(&dialog, "conditions.trigger.busy.settle")->setText(QStringLiteral("soon"));
        dialog.accept();
        QVERIFY(dialog.isVisible());
        QVERIFY(find<QLabel>(&dialog, "conditions.error")->text().contains(QStringLiteral("\"soon\"")));
        find<QLineEdit>(&dialog, "conditions.trigger.busy.settle")->setText(QStringLiteral("2m"));
        dialog.accept();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        // A newer list: the triggers no longer offered are no longer shown.
        dialog.setConditions(SessionConditions{ false, 0, {}, false, {}, { media } });
        dialog.show();
        QVERIFY(!find<QCheckBox>(&dialog, "conditions.trigger.busy")->isVisible());
        QVERIFY(find<QCheckBox>(&dialog, "conditions.trigger.media")->isVisible());
        QCOMPARE(dialog.conditions().triggers, QList<TriggerRecord>{ media });
    }
};

QTEST_MAIN(TestConditionsDialog)
#include "tst_conditionsdialog.moc"
