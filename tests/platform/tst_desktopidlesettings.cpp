#include "GnomeIdleSettings.h"
#include "KConfigText.h"
#include "PlasmaIdleSettings.h"
#include "PmsetListing.h"
#include "SessionDesktop.h"
#include "XfceIdleSettings.h"

#include <QTest>

// Readable failures: "sleep 20, displaysleep -" for an absent display line.
char *toString(const IdleSettings &settings)
{
    const auto minutes
        = [](const std::optional<qint64> &value) { return value ? QByteArray::number(*value) : QByteArray("-"); };
    return qstrdup(
        "sleep " + minutes(settings.sleepMinutes) + ", displaysleep " + minutes(settings.displaySleepMinutes));
}

namespace {

IdleSettings idle(std::optional<qint64> sleep, std::optional<qint64> display)
{
    return IdleSettings{ sleep, display };
}

const PlasmaMachine laptop{ true, false, false };

} // namespace

// The conversions from each desktop's own settings to the listing's minutes,
// with the defaults those desktops apply to what is not set.
class TestDesktopIdleSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void desktopFromCurrentDesktop_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<SessionDesktop>("expected");
        QTest::newRow("GNOME") << QStringLiteral("GNOME") << SessionDesktop::gnome;
        QTest::newRow("Ubuntu's GNOME") << QStringLiteral("ubuntu:GNOME") << SessionDesktop::gnome;
        QTest::newRow("Plasma") << QStringLiteral("KDE") << SessionDesktop::plasma;
        QTest::newRow("Xfce, any case") << QStringLiteral("xfce") << SessionDesktop::xfce;
        QTest::newRow("first known entry wins") << QStringLiteral("Unity:XFCE:GNOME") << SessionDesktop::xfce;
        QTest::newRow("GNOME Classic is GNOME by its second entry")
            << QStringLiteral("GNOME-Classic:GNOME") << SessionDesktop::gnome;
        QTest::newRow("a prefix is not a name") << QStringLiteral("GNOME-Flashback") << SessionDesktop::none;
        QTest::newRow("Cinnamon") << QStringLiteral("X-Cinnamon") << SessionDesktop::none;
        QTest::newRow("empty") << QString() << SessionDesktop::none;
    }

    void desktopFromCurrentDesktop()
    {
        QFETCH(QString, value);
        QFETCH(SessionDesktop, expected);
        QCOMPARE(SessionDesktops::fromCurrentDesktop(value), expected);
    }

    void desktopFromBusNames()
    {
        QCOMPARE(SessionDesktops::fromBusNames(
                     { QStringLiteral("org.freedesktop.DBus"), QStringLiteral("org.kde.Solid.PowerManagement") }),
            SessionDesktop::plasma);
        QCOMPARE(
            SessionDesktops::fromBusNames({ QStringLiteral("org.gnome.SettingsDaemon.Power") }), SessionDesktop::gnome);
        QCOMPARE(SessionDesktops::fromBusNames({ QStringLiteral("org.xfce.PowerManager") }), SessionDesktop::xfce);
        // The portal and the screen saver run under any desktop and tell nothing.
        QCOMPARE(SessionDesktops::fromBusNames({ QStringLiteral("org.freedesktop.portal.Desktop"),
                     QStringLiteral("org.freedesktop.ScreenSaver") }),
            SessionDesktop::none);
    }

    void gnome_data()
    {
        QTest::addColumn<GnomeIdleValues>("values");
        QTest::addColumn<IdleSettings>("expected");
        QTest::newRow("suspend after 20 minutes, blank after 5")
            << GnomeIdleValues{ 1200, QStringLiteral("suspend"), 300 } << idle(20, 5);
        QTest::newRow("seconds round up") << GnomeIdleValues{ 61, QStringLiteral("hibernate"), 1 } << idle(2, 1);
        QTest::newRow("nothing never sleeps") << GnomeIdleValues{ 1200, QStringLiteral("nothing"), 0 } << idle(0, 0);
        QTest::newRow("shutting down is not sleeping")
            << GnomeIdleValues{ 1200, QStringLiteral("shutdown"), 600 } << idle(0, 10);
        QTest::newRow("a zero timeout never sleeps")
            << GnomeIdleValues{ 0, QStringLiteral("suspend"), 300 } << idle(0, 5);
        QTest::newRow("no power schema: no sleep line")
            << GnomeIdleValues{ std::nullopt, std::nullopt, 300 } << idle(std::nullopt, 5);
        QTest::newRow("a timeout without its type says nothing")
            << GnomeIdleValues{ 1200, std::nullopt, std::nullopt } << idle(std::nullopt, std::nullopt);
    }

    void gnome()
    {
        QFETCH(GnomeIdleValues, values);
        QFETCH(IdleSettings, expected);
        QCOMPARE(GnomeIdleSettings::fromValues(values), expected);
    }

    void kconfigText()
    {
        const KConfigText config = KConfigText::parse("# PowerDevil\n"
                                                      "[AC][SuspendAndShutdown]\n"
                                                      "AutoSuspendAction = 1 \n"
                                                      "AutoSuspendIdleTimeoutSec[de]=5\n"
                                                      "Script=run\\sme\\\\now\n"
                                                      "\n"
                                                      "[AC]\n"
                                                      "icon=battery-charging\n");
        QCOMPARE(config.value({ QStringLiteral("AC"), QStringLiteral("SuspendAndShutdown") },
                     QStringLiteral("AutoSuspendAction")),
            QStringLiteral("1"));
        // Localized entries are not the value.
        QVERIFY(!config.value({ QStringLiteral("AC"), QStringLiteral("SuspendAndShutdown") },
            QStringLiteral("AutoSuspendIdleTimeoutSec")));
        QCOMPARE(config.value({ QStringLiteral("AC"), QStringLiteral("SuspendAndShutdown") }, QStringLiteral("Script")),
            QStringLiteral("run me\\now"));
        QVERIFY(config.hasGroup({ QStringLiteral("AC") }));
        QVERIFY(!config.hasGroup({ QStringLiteral("Battery") }));
        // A group is its own: [AC] is not [AC][SuspendAndShutdown].
        QVERIFY(!config.value({ QStringLiteral("AC") }, QStringLiteral("AutoSuspendAction")));
        QVERIFY(!config.hasGroup({ QStringLiteral("A") }));
    }

    void kconfigCascade()
    {
        KConfigText system = KConfigText::parse("[AC][Display]\n"
                                                "TurnOffDisplayIdleTimeoutSec=300\n"
                                                "TurnOffDisplayWhenIdle[$i]=true\n"
                                                "[Battery][$i]\n"
                                                "DimDisplayWhenIdle=false\n");
        system.overlay(KConfigText::parse("[AC][Display]\n"
                                          "TurnOffDisplayIdleTimeoutSec=900\n"
                                          "TurnOffDisplayWhenIdle=false\n"
                                          "[Battery]\n"
                                          "DimDisplayWhenIdle=true\n"
                                          "[Battery][Display]\n"
                                          "TurnOffDisplayWhenIdle=false\n"));
        const QStringList display{ QStringLiteral("AC"), QStringLiteral("Display") };
        QCOMPARE(system.value(display, QStringLiteral("TurnOffDisplayIdleTimeoutSec")), QStringLiteral("900"));
        QCOMPARE(system.value(display, QStringLiteral("TurnOffDisplayWhenIdle")), QStringLiteral("true"));
        QCOMPARE(
            system.value({ QStringLiteral("Battery") }, QStringLiteral("DimDisplayWhenIdle")), QStringLiteral("false"));
        // An immutable group locks the groups inside it too.
        QVERIFY(!system.value(
            { QStringLiteral("Battery"), QStringLiteral("Display") }, QStringLiteral("TurnOffDisplayWhenIdle")));

        KConfigText locked = KConfigText::parse("[$i]\n[AC][Display]\nTurnOffDisplayIdleTimeoutSec=60\n");
        locked.overlay(KConfigText::parse("[AC][Display]\nTurnOffDisplayIdleTimeoutSec=900\n"));
        QCOMPARE(locked.value(display, QStringLiteral("TurnOffDisplayIdleTimeoutSec")), QStringLiteral("60"));
    }

    void plasmaProfile_data()
    {
        QTest::addColumn<bool>("onBattery");
        QTest::addColumn<std::optional<double>>("percent");
        QTest::addColumn<QByteArray>("powerdevilrc");
        QTest::addColumn<std::optional<PlasmaProfile>>("expected");
        const std::optional<PlasmaProfile> ac = PlasmaProfile::ac;
        const std::optional<PlasmaProfile> battery = PlasmaProfile::battery;
        const std::optional<PlasmaProfile> low = PlasmaProfile::lowBattery;
        QTest::newRow("mains power") << false << std::optional<double>() << QByteArray() << ac;
        QTest::newRow("on battery, well charged") << true << std::optional<double>(64) << QByteArray() << battery;
        QTest::newRow("at the default low level") << true << std::optional<double>(10) << QByteArray() << low;
        QTest::newRow("above it") << true << std::optional<double>(11) << QByteArray() << battery;
        QTest::newRow("under a level of the user's")
            << true << std::optional<double>(25) << QByteArray("[BatteryManagement]\nBatteryLowLevel=30\n") << low;
        QTest::newRow("charge unknown") << true << std::optional<double>() << QByteArray()
                                        << std::optional<PlasmaProfile>();
    }

    void plasmaProfile()
    {
        QFETCH(bool, onBattery);
        QFETCH(std::optional<double>, percent);
        QFETCH(QByteArray, powerdevilrc);
        QFETCH(std::optional<PlasmaProfile>, expected);
        QCOMPARE(PlasmaIdleSettings::profileFor(onBattery, percent, KConfigText::parse(powerdevilrc)), expected);
    }

    void plasma5_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<PlasmaProfile>("profile");
        QTest::addColumn<IdleSettings>("expected");
        // As Plasma 5.27 writes it on first start for a machine that can suspend.
        const QByteArray generated = "[AC]\nicon=battery-charging\n"
                                     "[AC][DimDisplay]\nidleTime=300000\n"
                                     "[AC][DPMSControl]\nidleTime=600\nlockBeforeTurnOff=0\n"
                                     "[Battery]\nicon=battery-060\n"
                                     "[Battery][DPMSControl]\nidleTime=300\n"
                                     "[Battery][SuspendSession]\nidleTime=600000\nsuspendType=1\n"
                                     "[LowBattery][DPMSControl]\nidleTime=120\n"
                                     "[LowBattery][SuspendSession]\nidleTime=300000\nsuspendType=2\n";
        QTest::newRow("generated AC: no suspend action at all") << generated << PlasmaProfile::ac << idle(0, 10);
        QTest::newRow("generated Battery") << generated << PlasmaProfile::battery << idle(10, 5);
        QTest::newRow("generated LowBattery hibernates") << generated << PlasmaProfile::lowBattery << idle(5, 2);
        QTest::newRow("milliseconds round up")
            << QByteArray("[AC][SuspendSession]\nidleTime=90001\nsuspendType=4\n") << PlasmaProfile::ac << idle(2, 0);
        QTest::newRow("shutting down is not sleeping")
            << QByteArray("[AC][SuspendSession]\nidleTime=600000\nsuspendType=8\n") << PlasmaProfile::ac << idle(0, 0);
        QTest::newRow("no type: the timer is not armed")
            << QByteArray("[AC][SuspendSession]\nidleTime=600000\n[AC][DPMSControl]\nidleTime=0\n") << PlasmaProfile::ac
            << idle(0, 0);
        QTest::newRow("no such profile yet") << QByteArray("[AC][DPMSControl]\nidleTime=600\n")
                                             << PlasmaProfile::battery << idle(std::nullopt, std::nullopt);
    }

    void plasma5()
    {
        QFETCH(QByteArray, file);
        QFETCH(PlasmaProfile, profile);
        QFETCH(IdleSettings, expected);
        QCOMPARE(PlasmaIdleSettings::fromPlasma5(KConfigText::parse(file), profile), expected);
    }

    void plasma6_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<PlasmaProfile>("profile");
        QTest::addColumn<PlasmaMachine>("machine");
        QTest::addColumn<IdleSettings>("expected");
        QTest::newRow("all defaults, AC") << QByteArray() << PlasmaProfile::ac << laptop << idle(15, 10);
        QTest::newRow("all defaults, Battery") << QByteArray() << PlasmaProfile::battery << laptop << idle(10, 5);
        QTest::newRow("all defaults, LowBattery") << QByteArray() << PlasmaProfile::lowBattery << laptop << idle(5, 2);
        QTest::newRow("a virtual machine does not suspend by default")
            << QByteArray() << PlasmaProfile::ac << PlasmaMachine{ true, true, false } << idle(0, 10);
        QTest::newRow("nor one that cannot suspend")
            << QByteArray() << PlasmaProfile::ac << PlasmaMachine{ false, false, false } << idle(0, 10);
        QTest::newRow("the machine unknown: no default to give")
            << QByteArray() << PlasmaProfile::ac << PlasmaMachine{ true, std::nullopt, false }
            << idle(std::nullopt, 10);
        QTest::newRow("set values") << QByteArray(
            "[AC][SuspendAndShutdown]\nAutoSuspendAction=2\nAutoSuspendIdleTimeoutSec=1830\n"
            "[AC][Display]\nTurnOffDisplayIdleTimeoutSec=45\n")
                                    << PlasmaProfile::ac << PlasmaMachine{} << idle(31, 1);
        QTest::newRow("never sleep, never turn off")
            << QByteArray("[AC][SuspendAndShutdown]\nAutoSuspendAction=0\n"
                          "[AC][Display]\nTurnOffDisplayWhenIdle=false\nTurnOffDisplayIdleTimeoutSec=600\n")
            << PlasmaProfile::ac << PlasmaMachine{} << idle(0, 0);
        QTest::newRow("an action set, its timeout the default")
            << QByteArray("[Battery][SuspendAndShutdown]\nAutoSuspendAction=1\n") << PlasmaProfile::battery
            << PlasmaMachine{} << idle(10, 5);
        QTest::newRow("another profile's values do not apply")
            << QByteArray("[Battery][SuspendAndShutdown]\nAutoSuspendAction=0\n") << PlasmaProfile::ac << laptop
            << idle(15, 10);
        QTest::newRow("mobile defaults are not ours to give")
            << QByteArray("[AC][SuspendAndShutdown]\nAutoSuspendAction=1\n") << PlasmaProfile::ac
            << PlasmaMachine{ true, false, true } << idle(std::nullopt, std::nullopt);
    }

    void plasma6()
    {
        QFETCH(QByteArray, file);
        QFETCH(PlasmaProfile, profile);
        QFETCH(PlasmaMachine, machine);
        QFETCH(IdleSettings, expected);
        QCOMPARE(PlasmaIdleSettings::fromPlasma6(KConfigText::parse(file), profile, machine), expected);
    }

    void xfce_data()
    {
        QTest::addColumn<QVariantMap>("set");
        QTest::addColumn<bool>("onBattery");
        QTest::addColumn<IdleSettings>("expected");
        const QString prefix = QStringLiteral("/xfce4-power-manager/");
        QTest::newRow("defaults on AC: never sleeps, display sleeps at 10") << QVariantMap{} << false << idle(0, 10);
        QTest::newRow("defaults on battery") << QVariantMap{} << true << idle(0, 5);
        QTest::newRow("suspend after 30 minutes")
            << QVariantMap{ { prefix + QStringLiteral("inactivity-on-ac"), 30u } } << false << idle(30, 10);
        QTest::newRow("14 is never") << QVariantMap{ { prefix + QStringLiteral("inactivity-on-ac"), 14u } } << false
                                     << idle(0, 10);
        QTest::newRow("hibernating on battery by default")
            << QVariantMap{ { prefix + QStringLiteral("inactivity-on-battery"), 20 } } << true << idle(20, 5);
        QTest::newRow("an unknown sleep mode does not sleep")
            << QVariantMap{ { prefix + QStringLiteral("inactivity-on-ac"), 30u },
                   { prefix + QStringLiteral("inactivity-sleep-mode-on-ac"), 3u } }
            << false << idle(0, 10);
        QTest::newRow("the display's first armed step") << QVariantMap{
            { prefix + QStringLiteral("dpms-on-ac-sleep"), 0u }, { prefix + QStringLiteral("dpms-on-ac-off"), 25u }
        } << false << idle(0, 25);
        QTest::newRow("off before standby") << QVariantMap{ { prefix + QStringLiteral("dpms-on-ac-sleep"), 40u },
            { prefix + QStringLiteral("dpms-on-ac-off"), 20u } }
                                            << false << idle(0, 20);
        QTest::newRow("no step armed") << QVariantMap{ { prefix + QStringLiteral("dpms-on-ac-sleep"), 0u },
            { prefix + QStringLiteral("dpms-on-ac-off"), 0u } }
                                       << false << idle(0, 0);
        QTest::newRow("display power management off")
            << QVariantMap{ { prefix + QStringLiteral("dpms-enabled"), false } } << false << idle(0, 0);
        QTest::newRow("the AC keys do not apply on battery") << QVariantMap{
            { prefix + QStringLiteral("inactivity-on-ac"), 30u }, { prefix + QStringLiteral("dpms-on-ac-off"), 1u }
        } << true << idle(0, 5);
    }

    void xfce()
    {
        QFETCH(QVariantMap, set);
        QFETCH(bool, onBattery);
        QFETCH(IdleSettings, expected);
        QCOMPARE(XfceIdleSettings::fromProperties(set, onBattery), expected);
    }

    void listing()
    {
        QCOMPARE(PmsetListing::text(true, idle(20, 5)),
            QByteArray(
                "System-wide power settings:\n SleepDisabled 1\nCurrently in use:\n sleep 20\n displaysleep 5\n"));
        QCOMPARE(PmsetListing::text(false, idle(std::nullopt, 0)),
            QByteArray("System-wide power settings:\n SleepDisabled 0\nCurrently in use:\n displaysleep 0\n"));
        QCOMPARE(PmsetListing::text(false, {}),
            QByteArray("System-wide power settings:\n SleepDisabled 0\nCurrently in use:\n"));
    }
};

QTEST_GUILESS_MAIN(TestDesktopIdleSettings)
#include "tst_desktopidlesettings.moc"
