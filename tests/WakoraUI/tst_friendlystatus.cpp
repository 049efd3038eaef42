#include "FakeRunningApplications.h"
#include "FriendlyStatus.h"

#include <QTest>

// Turning the raw assertion list into applications and system processes.
class TestFriendlyStatus : public QObject
{
    Q_OBJECT

    static ProcessAssertion assertion(
        qint32 pid, const char *type, const char *reason, std::optional<QString> processName = std::nullopt)
    {
        return { pid, QString::fromUtf8(type), QString::fromUtf8(reason), std::move(processName) };
    }

    // A lookup that names the pids it is given and no other.
    static FriendlyStatus::NameLookup names(const QHash<qint32, QString> &table)
    {
        return [table](qint32 pid) -> std::optional<QString> {
            if (!table.contains(pid))
                return std::nullopt;
            return table.value(pid);
        };
    }

private Q_SLOTS:
    void systemProcessNames()
    {
        // Only the first assertion's process name counts, even when it has none.
        // Two pids under one process name give one entry; an empty name is no name.
        const FriendlyStatus status = FriendlyStatus::build(
            {
                assertion(30, "sleep", "", std::nullopt),
                assertion(30, "idle", "", QStringLiteral("backupd")),
                assertion(31, "sleep", "", QStringLiteral("gsd-power")),
                assertion(12, "sleep", "", QStringLiteral("gsd-power")),
                assertion(40, "sleep", "", QString()),
                assertion(5, "sleep", "", QStringLiteral("Zeta")),
            },
            999, names({}));
        QVERIFY(status.apps.isEmpty());
        QCOMPARE(status.systemProcesses,
            (QStringList{
                QStringLiteral("Zeta"), QStringLiteral("gsd-power"), QStringLiteral("알 수 없는 프로세스") }));
    }

    void ownerIsAlwaysThisApp()
    {
        // The owner is "이 앱" whatever the lookup says, and whether or not it
        // is a regular application.
        const FriendlyStatus status = FriendlyStatus::build(
            { assertion(77, "sleep", "Wakora: prevent system sleep", QStringLiteral("WakoraMenuBar")) }, 77,
            names({ { 77, QStringLiteral("Something else") } }));
        QCOMPARE(status.apps.size(), 1);
        QCOMPARE(status.apps.first().pid, 77);
        QCOMPARE(status.apps.first().name, QStringLiteral("이 앱"));
        QVERIFY(status.systemProcesses.isEmpty());
    }

    void displayDetection_data()
    {
        QTest::addColumn<QStringList>("types");
        QTest::addColumn<bool>("keepsDisplayOn");
        QTest::addColumn<QString>("activity");

        const QString display = QStringLiteral("화면을 켜 두는 중");
        const QString awake = QStringLiteral("Mac을 깨워 두는 중");
        QTest::newRow("display and system types") << QStringList{ QStringLiteral("PreventUserIdleDisplaySleep"),
            QStringLiteral("PreventUserIdleSystemSleep") }
                                                  << true << display;
        QTest::newRow("system type only")
            << QStringList{ QStringLiteral("PreventUserIdleSystemSleep") } << false << awake;
        QTest::newRow("other case") << QStringList{ QStringLiteral("NoDISPLAYSleepAssertion") } << true << display;
        QTest::newRow("logind idle") << QStringList{ QStringLiteral("idle") } << true << display;
        QTest::newRow("logind sleep:idle") << QStringList{ QStringLiteral("sleep:idle") } << true << display;
        QTest::newRow("logind idle:sleep") << QStringList{ QStringLiteral("idle:sleep") } << true << display;
        QTest::newRow("logind sleep") << QStringList{ QStringLiteral("sleep") } << false << awake;
        QTest::newRow("logind lid switch")
            << QStringList{ QStringLiteral("handle-lid-switch"), QStringLiteral("shutdown:sleep") } << false << awake;
        QTest::newRow("idle inside another word") << QStringList{ QStringLiteral("handle-idle-key") } << false << awake;
    }

    void displayDetection()
    {
        QFETCH(QStringList, types);
        QFETCH(bool, keepsDisplayOn);
        QFETCH(QString, activity);
        QList<ProcessAssertion> assertions;
        for (const QString &type : types)
            assertions.append({ 42, type, QString(), std::nullopt });
        const FriendlyStatus status = FriendlyStatus::build(assertions, 1, names({ { 42, QStringLiteral("Player") } }));
        QCOMPARE(status.apps.size(), 1);
        QCOMPARE(status.apps.first().keepsDisplayOn, keepsDisplayOn);
        QCOMPARE(status.apps.first().activityText(), activity);
    }

    void reasonsAndDetail()
    {
        const FriendlyStatus status
            = FriendlyStatus::build({ assertion(42, "sleep", "b"), assertion(42, "sleep", ""),
                                        assertion(42, "idle", "a"), assertion(42, "sleep", "b") },
                1, names({ { 42, QStringLiteral("Player") } }));
        QCOMPARE(status.apps.size(), 1);
        const FriendlyApp &app = status.apps.first();
        QCOMPARE(app.reasons, (QStringList{ QStringLiteral("a"), QStringLiteral("b") }));
        QCOMPARE(app.detailText(), QStringLiteral("PID 42\na\nb"));
        QCOMPARE((FriendlyApp{ 7, QStringLiteral("x"), false, {} }.detailText()), QStringLiteral("PID 7"));
    }

    void appsSortLikeFileNames()
    {
        // Numbers by value, letters without regard to case; the input order
        // (by pid) must not leak through.
        const FriendlyStatus status = FriendlyStatus::build({ assertion(1, "sleep", ""), assertion(2, "sleep", ""),
                                                                assertion(3, "sleep", ""), assertion(4, "sleep", "") },
            0,
            names({ { 1, QStringLiteral("App10") }, { 2, QStringLiteral("beta") }, { 3, QStringLiteral("app9") },
                { 4, QStringLiteral("Alpha") } }));
        QStringList order;
        for (const FriendlyApp &app : status.apps)
            order << app.name;
        QCOMPARE(order,
            (QStringList{
                QStringLiteral("Alpha"), QStringLiteral("app9"), QStringLiteral("App10"), QStringLiteral("beta") }));
    }

    void emptyList()
    {
        QCOMPARE(FriendlyStatus::build({}, 1, names({ { 1, QStringLiteral("x") } })), FriendlyStatus());
    }

    void namesFromRunningApplications()
    {
        // Only a regular application with a name is an app; a daemon the
        // directory knows is still a system process, under its process name.
        FakeRunningApplications applications;
        applications.insert({ 10, true, QStringLiteral("Firefox"), QStringLiteral("firefox-esr") });
        applications.insert({ 11, false, QStringLiteral("gsd-power"), QString() });
        applications.insert({ 12, true, std::nullopt, QString() });
        applications.insert({ 13, true, QString(), QString() });
        const FriendlyStatus status
            = FriendlyStatus::build({ assertion(10, "idle", "Playing video", QStringLiteral("firefox-esr")),
                                        assertion(11, "handle-lid-switch", "", QStringLiteral("gsd-power")),
                                        assertion(12, "sleep", "", QStringLiteral("nameless")),
                                        assertion(13, "sleep", "", QStringLiteral("emptyname")),
                                        assertion(14, "sleep", "", QStringLiteral("gone")) },
                1, FriendlyStatus::applicationNames(applications));
        QCOMPARE(status.apps,
            (QList<FriendlyApp>{ { 10, QStringLiteral("Firefox"), true, { QStringLiteral("Playing video") } } }));
        QCOMPARE(status.systemProcesses,
            (QStringList{ QStringLiteral("emptyname"), QStringLiteral("gone"), QStringLiteral("gsd-power"),
                QStringLiteral("nameless") }));
    }
};

QTEST_GUILESS_MAIN(TestFriendlyStatus)
#include "tst_friendlystatus.moc"
