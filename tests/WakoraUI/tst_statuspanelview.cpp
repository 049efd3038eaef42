#include "ElidedLabel.h"
#include "FakeRunningApplications.h"
#include "StatusPanelModel.h"
#include "StatusPanelView.h"
#include "UsageBar.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The status panel over a model filled by the test, found by identifiers.
class TestStatusPanelView : public QObject
{
    Q_OBJECT

    template <typename T = QWidget> static T *find(const QWidget *root, const QString &identifier)
    {
        return root->findChild<T *>(identifier);
    }

    static bool shown(const QWidget *panel, const QString &identifier)
    {
        const QWidget *widget = find(panel, identifier);
        return widget && widget->isVisibleTo(panel);
    }

    static QString label(const QWidget *row, const char *identifier)
    {
        const auto *text = row->findChild<QLabel *>(QString::fromUtf8(identifier));
        return text ? text->text() : QString();
    }

    static FriendlyStatus status(QList<FriendlyApp> apps, QStringList system)
    {
        return { std::move(apps), std::move(system) };
    }

private Q_SLOTS:
    void loading()
    {
        StatusPanelModel model;
        StatusPanelView panel(&model);
        QVERIFY(find<QProgressBar>(&panel, QStringLiteral("assertions.loading")));
        QVERIFY(find<QProgressBar>(&panel, QStringLiteral("settings.loading")));
        QVERIFY(!shown(&panel, QStringLiteral("section.system")));
        QVERIFY(!shown(&panel, QStringLiteral("section.frequentApps")));
        QVERIFY(!find(&panel, QStringLiteral("assertions.message")));
    }

    void failedQueries()
    {
        StatusPanelModel model;
        int retries = 0;
        int settingsRetries = 0;
        model.setOnRetry([&] { ++retries; });
        model.setOnRetrySettings([&] { ++settingsRetries; });
        StatusPanelView panel(&model);
        model.setOverview(QueryState<FriendlyStatus>::failed(PowerStatusError::assertionQueryFailed(-5)));
        model.setSettings(QueryState<QList<PowerSettingRow>>::failed(PowerStatusError::pmsetFailed(1)));

        QCOMPARE(find<QLabel>(&panel, QStringLiteral("assertions.message"))->text(),
            QStringLiteral("상태를 조회하지 못했습니다. (assertionQueryFailed(code: -5))"));
        QCOMPARE(find<QLabel>(&panel, QStringLiteral("settings.message"))->text(),
            QStringLiteral("상태를 조회하지 못했습니다. (pmsetFailed(status: 1))"));
        QVERIFY(!find(&panel, QStringLiteral("assertions.loading")));
        QVERIFY(!shown(&panel, QStringLiteral("section.system")));

        auto *retry = find<QPushButton>(&panel, QStringLiteral("assertions.retry"));
        QCOMPARE(retry->text(), QStringLiteral("다시 시도"));
        retry->click();
        QCOMPARE(retries, 1);
        QCOMPARE(settingsRetries, 0);
        find<QPushButton>(&panel, QStringLiteral("settings.retry"))->click();
        QCOMPARE(settingsRetries, 1);
        QCOMPARE(retries, 1);
    }

    void retryThatReloadsReplacesItsOwnRow()
    {
        // The usual owner answers a retry by going back to loading at once,
        // which removes the very button being clicked.
        StatusPanelModel model;
        StatusPanelView panel(&model);
        model.setOnRetry([&] { model.setOverview(QueryState<FriendlyStatus>::loading()); });
        model.setOverview(QueryState<FriendlyStatus>::failed(PowerStatusError::assertionQueryFailed(0)));
        find<QPushButton>(&panel, QStringLiteral("assertions.retry"))->click();
        QVERIFY(!find(&panel, QStringLiteral("assertions.retry")));
        QVERIFY(find(&panel, QStringLiteral("assertions.loading")));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void emptyOverview()
    {
        StatusPanelModel model;
        StatusPanelView panel(&model);
        model.setOverview(QueryState<FriendlyStatus>::available({}));
        auto *message = find<QLabel>(&panel, QStringLiteral("assertions.message"));
        QCOMPARE(message->text(), QStringLiteral("잠자기를 막는 프로세스가 없습니다."));
        QVERIFY(message->minimumHeight() >= 44);
        QVERIFY(!shown(&panel, QStringLiteral("section.system")));
        QVERIFY(panel.findChildren<QWidget *>(QRegularExpression(QStringLiteral("^app\\."))).isEmpty());
    }

    void filledOverview()
    {
        QTemporaryDir icons;
        QVERIFY(icons.isValid());
        const QString iconFile = icons.filePath(QStringLiteral("player.png"));
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(iconFile));

        FakeRunningApplications applications;
        applications.insert({ 42, true, QStringLiteral("Player"), iconFile });
        applications.insert({ 43, true, QStringLiteral("Editor"), QStringLiteral("no-such-icon-in-any-theme") });

        StatusPanelModel model;
        StatusPanelView panel(&model, &applications);
        model.setOverview(QueryState<FriendlyStatus>::available(
            status({ { 43, QStringLiteral("Editor"), false, {} },
                       { 42, QStringLiteral("Player"), true, { QStringLiteral("Playing video") } },
                       { 7, QStringLiteral("이 앱"), false, {} } },
                { QStringLiteral("gsd-power"), QStringLiteral("unattended-upgr") })));

        QVERIFY(!find(&panel, QStringLiteral("assertions.message")));
        const QList<QWidget *> rows = panel.findChildren<QWidget *>(QRegularExpression(QStringLiteral("^app\\.")));
        QStringList order;
        for (const QWidget *row : rows)
            order << row->objectName();
        QCOMPARE(order,
            (QStringList{ QStringLiteral("app.Editor"), QStringLiteral("app.Player"), QStringLiteral("app.이 앱") }));

        const QWidget *player = find(&panel, QStringLiteral("app.Player"));
        QCOMPARE(player->toolTip(), QStringLiteral("PID 42\nPlaying video"));
        QCOMPARE(label(player, "row.title"), QStringLiteral("Player"));
        QCOMPARE(label(player, "row.subtitle"), QStringLiteral("화면을 켜 두는 중"));
        QVERIFY(player->minimumHeight() >= 44);
        const auto iconSource = [](const QWidget *row) {
            for (const QLabel *label : row->findChildren<QLabel *>()) {
                if (label->property("iconSource").isValid()) {
                    if (label->pixmap().isNull() || label->size() != QSize(28, 28))
                        return QStringLiteral("<no 28-point image>");
                    return label->property("iconSource").toString();
                }
            }
            return QString();
        };
        QCOMPARE(iconSource(player), iconFile);
        QCOMPARE(iconSource(find(&panel, QStringLiteral("app.Editor"))), QStringLiteral("gearshape"));
        // Not in the directory at all.
        QCOMPARE(iconSource(find(&panel, QStringLiteral("app.이 앱"))), QStringLiteral("gearshape"));
        QCOMPARE(
            label(find(&panel, QStringLiteral("app.Editor")), "row.subtitle"), QStringLiteral("Mac을 깨워 두는 중"));

        QVERIFY(shown(&panel, QStringLiteral("section.system")));
        QCOMPARE(find<QLabel>(&panel, QStringLiteral("system.header"))->text(), QStringLiteral("시스템 프로세스 2"));
        QStringList system;
        for (const QLabel *row : panel.findChildren<QLabel *>(QStringLiteral("system.row")))
            system << row->text();
        QCOMPARE(system, (QStringList{ QStringLiteral("gsd-power"), QStringLiteral("unattended-upgr") }));

        // A failed query afterwards takes the system section away again.
        model.setOverview(QueryState<FriendlyStatus>::failed(PowerStatusError::assertionQueryFailed(0)));
        QVERIFY(!shown(&panel, QStringLiteral("section.system")));
        QVERIFY(panel.findChildren<QLabel *>(QStringLiteral("system.row")).isEmpty());
        QVERIFY(!find(&panel, QStringLiteral("app.Player")));
    }

    void settings()
    {
        StatusPanelModel model;
        StatusPanelView panel(&model);
        model.setSettings(QueryState<QList<PowerSettingRow>>::available({}));
        QCOMPARE(find<QLabel>(&panel, QStringLiteral("settings.message"))->text(),
            QStringLiteral("표시할 전원 설정이 없습니다."));

        model.setSettings(
            QueryState<QList<PowerSettingRow>>::available({ { QStringLiteral("Mac 잠자기"), QStringLiteral("10분 후"),
                                                                QStringLiteral("Mac이 잠들기까지의 시간입니다.") },
                { QStringLiteral("네트워크로 깨우기"), QStringLiteral("꺼짐"), QStringLiteral("help") } }));
        QVERIFY(!find(&panel, QStringLiteral("settings.message")));
        const QList<QWidget *> rows = panel.findChildren<QWidget *>(QStringLiteral("settings.row"));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(label(rows.at(0), "row.title"), QStringLiteral("Mac 잠자기"));
        QCOMPARE(label(rows.at(0), "row.subtitle"), QStringLiteral("10분 후"));
        QCOMPARE(rows.at(0)->toolTip(), QStringLiteral("Mac이 잠들기까지의 시간입니다."));
        QCOMPARE(label(rows.at(1), "row.subtitle"), QStringLiteral("꺼짐"));
        // The settings' state leaves the assertions section alone.
        QVERIFY(find(&panel, QStringLiteral("assertions.loading")));
    }

    void frequentApps()
    {
        StatusPanelModel model;
        int clears = 0;
        model.setOnClearUsage([&] { ++clears; });
        StatusPanelView panel(&model);
        panel.resize(400, 800);

        UsageSummary summary;
        summary.days = { { QDate(2026, 12, 8).startOfDay(), 60 } };
        model.setUsage(summary);
        QVERIFY(!shown(&panel, QStringLiteral("section.frequentApps"))); // no apps, no section

        summary.apps
            = { { QStringLiteral("Firefox"), 120 }, { QStringLiteral("Steam"), 59 }, { QStringLiteral("터미널"), 0 } };
        model.setUsage(summary);
        QVERIFY(shown(&panel, QStringLiteral("section.frequentApps")));
        const QList<QWidget *> rows = panel.findChildren<QWidget *>(QStringLiteral("usage.row"));
        QCOMPARE(rows.size(), 3);
        QCOMPARE(label(rows.at(0), "row.title"), QStringLiteral("Firefox"));
        QCOMPARE(label(rows.at(0), "row.subtitle"), QStringLiteral("약 2시간"));
        QCOMPARE(label(rows.at(1), "row.subtitle"), QStringLiteral("약 59분"));
        QCOMPARE(label(rows.at(2), "row.title"), QStringLiteral("터미널"));

        // Laid out, the largest fills its area and the others follow, 4 points at least.
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        const QList<UsageBar *> bars = panel.findChildren<UsageBar *>();
        QCOMPARE(bars.size(), 3);
        const double area = bars.at(0)->width();
        QVERIFY(area > 100);
        QCOMPARE(bars.at(0)->height(), 16);
        QCOMPARE(bars.at(0)->barWidth(), area);
        QCOMPARE(bars.at(1)->barWidth(), bars.at(1)->width() * 59 / 120.0);
        QCOMPARE(bars.at(2)->barWidth(), 4.0);

        auto *clear = find<QPushButton>(&panel, QStringLiteral("chart.clear"));
        QCOMPARE(clear->text(), QStringLiteral("기록 삭제"));
        clear->click();
        QCOMPARE(clears, 1);

        model.setUsage(std::nullopt);
        QVERIFY(!shown(&panel, QStringLiteral("section.frequentApps")));
    }

    void longNamesEndInAnEllipsisWithTheWholeNameAsTooltip()
    {
        StatusPanelModel model;
        StatusPanelView panel(&model);
        panel.resize(380, 800);
        const QString longName = QStringLiteral("LibreOffice Impress 프레젠테이션 발표자 화면");
        UsageSummary summary;
        summary.days = { { QDate(2026, 12, 8).startOfDay(), 60 } };
        summary.apps = { { longName, 120 }, { QStringLiteral("Steam"), 59 } };
        model.setUsage(summary);
        model.setOverview(
            QueryState<FriendlyStatus>::available(status({ FriendlyApp{ 7, longName + longName, true, {} } }, {})));
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));

        const QList<QWidget *> rows = panel.findChildren<QWidget *>(QStringLiteral("usage.row"));
        QCOMPARE(rows.size(), 2);
        const auto *cut = rows.at(0)->findChild<ElidedLabel *>(QStringLiteral("row.title"));
        QVERIFY(cut);
        QVERIFY(cut->isElided());
        QVERIFY(cut->text().endsWith(QChar(0x2026)));
        // The shown text fits its column: nothing is cut mid-glyph.
        QVERIFY(cut->fontMetrics().horizontalAdvance(cut->text()) <= cut->contentsRect().width());
        QCOMPARE(cut->toolTip(), longName);
        const auto *whole = rows.at(1)->findChild<ElidedLabel *>(QStringLiteral("row.title"));
        QCOMPARE(whole->text(), QStringLiteral("Steam"));
        QVERIFY(whole->toolTip().isEmpty());

        // An app row of the overview ends in one too, within the panel.
        const auto *app = find(&panel, QStringLiteral("app.") + longName + longName);
        QVERIFY(app);
        const auto *title = app->findChild<ElidedLabel *>(QStringLiteral("row.title"));
        QVERIFY(title->isElided());
        QVERIFY(title->mapTo(&panel, QPoint(title->width(), 0)).x() <= panel.width());
    }

    void barWidthRule_data()
    {
        QTest::addColumn<double>("area");
        QTest::addColumn<qint64>("minutes");
        QTest::addColumn<qint64>("largest");
        QTest::addColumn<double>("width");
        QTest::newRow("largest") << 200.0 << qint64(30) << qint64(30) << 200.0;
        QTest::newRow("half") << 200.0 << qint64(15) << qint64(30) << 100.0;
        QTest::newRow("tiny share keeps 4 points") << 200.0 << qint64(1) << qint64(1000) << 4.0;
        QTest::newRow("zero minutes keeps 4 points") << 200.0 << qint64(0) << qint64(30) << 4.0;
        QTest::newRow("largest below 1") << 200.0 << qint64(0) << qint64(0) << 4.0;
        QTest::newRow("negative largest") << 200.0 << qint64(-3) << qint64(-3) << 4.0;
        QTest::newRow("no area yet") << 0.0 << qint64(30) << qint64(30) << 4.0;
    }

    void barWidthRule()
    {
        QFETCH(double, area);
        QFETCH(qint64, minutes);
        QFETCH(qint64, largest);
        QFETCH(double, width);
        QCOMPARE(UsageBar::widthFor(area, minutes, largest), width);
    }

    void signalsOnlyOnChange()
    {
        StatusPanelModel model;
        QSignalSpy overview(&model, &StatusPanelModel::overviewChanged);
        QSignalSpy settings(&model, &StatusPanelModel::settingsChanged);
        QSignalSpy usage(&model, &StatusPanelModel::usageChanged);
        model.setOverview(QueryState<FriendlyStatus>::loading());
        QCOMPARE(overview.count(), 0);
        model.setOverview(QueryState<FriendlyStatus>::available({}));
        model.setOverview(QueryState<FriendlyStatus>::available({}));
        QCOMPARE(overview.count(), 1);
        QCOMPARE(settings.count(), 0);
        model.setUsage(UsageSummary());
        model.setUsage(UsageSummary());
        QCOMPARE(usage.count(), 1);
        model.setSettings(QueryState<QList<PowerSettingRow>>::failed(PowerStatusError::pmsetFailed(2)));
        QCOMPARE(settings.count(), 1);
        QCOMPARE(overview.count(), 1);
    }
};

QTEST_MAIN(TestStatusPanelView)
#include "tst_statuspanelview.moc"
