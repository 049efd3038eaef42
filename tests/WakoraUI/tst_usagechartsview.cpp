#include "UsageChartsView.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChartView>
#include <QLabel>
#include <QLineSeries>
#include <QTest>

// The week card, found by its identifiers.
class TestUsageChartsView : public QObject
{
    Q_OBJECT

    // Seven days ending on Sunday 2026-12-06, oldest first.
    static UsageSummary week(const QList<double> &seconds, QList<AppUsage> apps = {})
    {
        UsageSummary summary;
        const QDate first(2026, 11, 30); // a Monday
        for (int day = 0; day < seconds.size(); ++day)
            summary.days.append({ first.addDays(day).startOfDay(), seconds.at(day) });
        summary.apps = std::move(apps);
        return summary;
    }

    static QString text(const QWidget &view, const char *identifier)
    {
        const auto *label = view.findChild<QLabel *>(QString::fromUtf8(identifier));
        return label ? label->text() : QStringLiteral("<absent>");
    }

    static QChart *chart(const QWidget &view)
    {
        const auto *chartView = view.findChild<QChartView *>(QStringLiteral("chart.daily"));
        return chartView ? chartView->chart() : nullptr;
    }

    template <typename T> static T *series(QChart *chart)
    {
        for (QAbstractSeries *series : chart->series()) {
            if (auto *typed = qobject_cast<T *>(series))
                return typed;
        }
        return nullptr;
    }

    template <typename T> static T *axis(QChart *chart, Qt::Alignment alignment)
    {
        const QList<QAbstractAxis *> axes
            = chart->axes(alignment & (Qt::AlignLeft | Qt::AlignRight) ? Qt::Vertical : Qt::Horizontal);
        for (QAbstractAxis *axis : axes) {
            if (axis->alignment() == alignment)
                return qobject_cast<T *>(axis);
        }
        return nullptr;
    }

private Q_SLOTS:
    void idleWeekIsEmpty()
    {
        const UsageChartsView view(week({ 0, 0, 0, 0, 0, 0, 0 }));
        QCOMPARE(text(view, "chart.heading"), QStringLiteral("이번 주"));
        QCOMPARE(text(view, "chart.empty"),
            QStringLiteral("아직 기록이 없습니다. 잠자기 방지를 사용하면 여기에 표시됩니다."));
        QCOMPARE(text(view, "chart.total"), QStringLiteral("<absent>"));
        QCOMPARE(text(view, "chart.average"), QStringLiteral("<absent>"));
        QVERIFY(!chart(view));
    }

    void idleWeekWithAnApp()
    {
        // Minutes of an app make the history non-empty: seven empty bars on a
        // one-hour scale, the rule at 0.
        const UsageChartsView view(week({ 0, 0, 0, 0, 0, 0, 0 }, { { QStringLiteral("Firefox"), 3 } }));
        QCOMPARE(text(view, "chart.empty"), QStringLiteral("<absent>"));
        QCOMPARE(text(view, "chart.total"), QStringLiteral("0분"));
        QCOMPARE(text(view, "chart.average"), QStringLiteral("하루 평균 0분"));
        QChart *daily = chart(view);
        QVERIFY(daily);
        QBarSet *set = series<QBarSeries>(daily)->barSets().first();
        QCOMPARE(set->count(), 7);
        for (int day = 0; day < 7; ++day)
            QCOMPARE(set->at(day), 0.0);
        auto *scale = axis<QCategoryAxis>(daily, Qt::AlignRight);
        QVERIFY(scale);
        QCOMPARE(scale->min(), 0.0);
        QCOMPARE(scale->max(), 1.0);
        QCOMPARE(scale->categoriesLabels(),
            (QStringList{ QStringLiteral("0시간"), QStringLiteral("0.5시간"), QStringLiteral("1시간") }));
        const QList<QPointF> rule = series<QLineSeries>(daily)->points();
        QCOMPARE(rule.size(), 2);
        QCOMPARE(rule.at(0).y(), 0.0);
    }

    void filledWeek()
    {
        // Monday 1.5 h … Sunday 3 h: bars oldest first, today (Sunday) rightmost.
        const UsageChartsView view(week({ 5400, 0, 1800, 18000, 600, 0, 10800 }));
        QCOMPARE(text(view, "chart.total"), QStringLiteral("10시간 10분"));
        QCOMPARE(text(view, "chart.average"), QStringLiteral("하루 평균 1시간 27분"));

        QChart *daily = chart(view);
        QVERIFY(daily);
        QBarSet *set = series<QBarSeries>(daily)->barSets().first();
        QCOMPARE(set->label(), QStringLiteral("시간"));
        const QList<double> expected = { 1.5, 0, 0.5, 5, 600 / 3600.0, 0, 3 };
        for (int day = 0; day < expected.size(); ++day)
            QCOMPARE(set->at(day), expected.at(day));

        auto *days = axis<QBarCategoryAxis>(daily, Qt::AlignBottom);
        QVERIFY(days);
        QCOMPARE(days->categories(),
            (QStringList{ QStringLiteral("월"), QStringLiteral("화"), QStringLiteral("수"), QStringLiteral("목"),
                QStringLiteral("금"), QStringLiteral("토"), QStringLiteral("일") }));

        // A 5-hour day sets the scale; the y axis sits on the trailing side.
        auto *scale = axis<QCategoryAxis>(daily, Qt::AlignRight);
        QVERIFY(scale);
        QCOMPARE(scale->max(), 5.0);
        QCOMPARE(scale->categoriesLabels(),
            (QStringList{ QStringLiteral("0시간"), QStringLiteral("2.5시간"), QStringLiteral("5시간") }));

        // The average rule spans the chart, green, 1 point, dashed 4 on 3 off.
        QLineSeries *rule = series<QLineSeries>(daily);
        QCOMPARE(rule->name(), QStringLiteral("평균"));
        QCOMPARE(rule->points(), (QList<QPointF>{ { -0.5, 36600.0 / 7 / 3600 }, { 6.5, 36600.0 / 7 / 3600 } }));
        QCOMPARE(rule->pen().widthF(), 1.0);
        QCOMPARE(rule->pen().dashPattern(), (QList<qreal>{ 4, 3 }));
        QVERIFY(rule->pen().color().green() > rule->pen().color().red());

        QCOMPARE(view.barValues().first(), QStringLiteral("1시간 30분"));
        QCOMPARE(view.barValues().at(4), QStringLiteral("10분"));
        QCOMPARE(view.barLabels().size(), 7);
    }

    void scale()
    {
        QCOMPARE(UsageChartsView::scaleMaximum(week({ 0, 0, 0, 0, 0, 0, 0 })), 1.0);
        QCOMPARE(UsageChartsView::scaleMaximum(week({ 3599, 60, 0 })), 1.0);
        QCOMPARE(UsageChartsView::scaleMaximum(week({ 18000, 3600 })), 5.0);
        QCOMPARE(UsageChartsView::scaleMaximum(UsageSummary()), 1.0);

        QCOMPARE(UsageChartsView::axisValues(1), (QList<double>{ 0, 0.5, 1 }));
        QCOMPARE(UsageChartsView::axisValues(5), (QList<double>{ 0, 2.5, 5 }));
        QCOMPARE(UsageChartsView::axisValues(7.3), (QList<double>{ 0, 2.5, 5 }));
        QCOMPARE(UsageChartsView::axisValues(24), (QList<double>{ 0, 10, 20 }));
        QCOMPARE(UsageChartsView::hourLabel(1.5), QStringLiteral("1.5시간"));
        QCOMPARE(UsageChartsView::hourLabel(2), QStringLiteral("2시간"));
    }

    void totalUnits()
    {
        // 3,599 seconds in minutes only, 3,600 with hours.
        QCOMPARE(text(UsageChartsView(week({ 3599 })), "chart.total"), QStringLiteral("59분"));
        QCOMPARE(text(UsageChartsView(week({ 3600 })), "chart.total"), QStringLiteral("1시간"));
    }

    void longerHistoryKeepsEveryDay()
    {
        // Weekday letters repeat after a week; every day still gets its bar
        // and its own category.
        UsageChartsView view(week({ 60, 60, 60, 60, 60, 60, 60, 60, 60, 3600 }));
        QChart *daily = chart(view);
        QCOMPARE(series<QBarSeries>(daily)->barSets().first()->count(), 10);
        QCOMPARE(axis<QBarCategoryAxis>(daily, Qt::AlignBottom)->count(), 10);

        // Applications without any day: not empty, and nothing to draw a bar for.
        UsageSummary appsOnly;
        appsOnly.apps = { { QStringLiteral("Firefox"), 5 } };
        view.setSummary(appsOnly);
        QCOMPARE(text(view, "chart.total"), QStringLiteral("0분"));
        QCOMPARE(series<QBarSeries>(chart(view))->barSets().first()->count(), 0);

        // A new summary replaces what the card shows.
        view.setSummary(week({ 0, 0 }));
        QCOMPARE(text(view, "chart.total"), QStringLiteral("<absent>"));
        QVERIFY(view.findChild<QLabel *>(QStringLiteral("chart.empty")));
    }
};

QTEST_MAIN(TestUsageChartsView)
#include "tst_usagechartsview.moc"
