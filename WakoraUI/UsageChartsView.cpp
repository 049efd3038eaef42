#include "UsageChartsView.h"

#include "DurationText.h"
#include "InterfaceLocale.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QCursor>
#include <QGraphicsLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

QString localized(const char *text)
{
    return QCoreApplication::translate("WakoraUI", text);
}

QColor secondaryColor(const QPalette &palette)
{
    return palette.color(QPalette::PlaceholderText);
}

QLabel *secondaryLabel(const QString &text)
{
    auto *label = new QLabel(text);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondaryColor(palette));
    label->setPalette(palette);
    return label;
}

double hours(double seconds)
{
    return std::isfinite(seconds) ? seconds / 3600 : 0;
}

// The narrow weekday of each day. A category axis needs distinct labels, and
// narrow weekdays repeat beyond a week (and within one in some languages):
// a repeat gets invisible zero-width spaces appended.
QStringList weekdayLabels(const QList<DailyUsage> &days)
{
    const QLocale locale = interfaceLocale();
    QStringList labels;
    for (const DailyUsage &day : days) {
        QString label
            = day.date.isValid() ? locale.dayName(day.date.date().dayOfWeek(), QLocale::NarrowFormat) : QString();
        while (labels.contains(label))
            label += QChar(0x200B);
        labels.append(label);
    }
    return labels;
}

} // namespace

UsageChartsView::UsageChartsView(UsageSummary summary, QWidget *parent)
    : QWidget(parent)
    , m_summary(std::move(summary))
    , m_layout(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("usageCharts"));
    m_layout->setContentsMargins(12, 12, 12, 12);
    m_layout->setSpacing(6);
    rebuild();
}

void UsageChartsView::setSummary(UsageSummary summary)
{
    m_summary = std::move(summary);
    rebuild();
}

double UsageChartsView::scaleMaximum(const UsageSummary &summary)
{
    double largest = 1;
    for (const DailyUsage &day : summary.days)
        largest = std::max(largest, hours(day.seconds));
    return largest;
}

QList<double> UsageChartsView::axisValues(double maximum)
{
    if (!std::isfinite(maximum) || maximum <= 0)
        return { 0 };
    // The largest nice step that still fits twice into the scale.
    const double rough = maximum / 2;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    double step = magnitude;
    for (const double factor : { 2.0, 2.5, 5.0, 10.0 }) {
        if (factor * magnitude <= rough * (1 + 1e-9))
            step = factor * magnitude;
    }
    QList<double> values;
    for (int index = 0; index * step <= maximum * (1 + 1e-9); ++index)
        values.append(index * step);
    return values;
}

QString UsageChartsView::hourLabel(double hours)
{
    const double rounded = std::round(hours * 10) / 10;
    const bool whole = std::abs(rounded - std::round(rounded)) < 1e-9;
    return localized("%1시간").arg(interfaceLocale().toString(rounded, 'f', whole ? 0 : 1));
}

void UsageChartsView::rebuild()
{
    while (QLayoutItem *item = m_layout->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
    m_barLabels.clear();
    m_barValues.clear();

    QLabel *heading = secondaryLabel(localized("이번 주"));
    heading->setObjectName(QStringLiteral("chart.heading"));
    m_layout->addWidget(heading);

    if (m_summary.isEmpty()) {
        QLabel *empty = secondaryLabel(localized("아직 기록이 없습니다. 잠자기 방지를 사용하면 여기에 표시됩니다."));
        empty->setObjectName(QStringLiteral("chart.empty"));
        empty->setWordWrap(true);
        m_layout->addWidget(empty);
        m_layout->addStretch();
        return;
    }

    double totalSeconds = 0;
    for (const DailyUsage &day : m_summary.days)
        totalSeconds += day.seconds;

    auto *total = new QLabel(DurationText::usage(totalSeconds));
    total->setObjectName(QStringLiteral("chart.total"));
    QFont titleFont = total->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setWeight(QFont::Medium);
    total->setFont(titleFont);
    m_layout->addWidget(total);

    m_layout->addWidget(dailyChart(), 1);

    QLabel *average = secondaryLabel(localized("하루 평균 %1").arg(DurationText::usage(m_summary.dailyAverage())));
    average->setObjectName(QStringLiteral("chart.average"));
    QFont caption = average->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    average->setFont(caption);
    m_layout->addWidget(average);
}

QWidget *UsageChartsView::dailyChart()
{
    const QColor secondary = secondaryColor(palette());
    QColor grid = secondary;
    grid.setAlphaF(0.3);
    const QPen gridPen(grid, 0.5);
    QFont axisFont = font();
    axisFont.setPointSizeF(axisFont.pointSizeF() * 0.8);

    auto *chart = new QChart;
    chart->legend()->hide();
    chart->setBackgroundVisible(false);
    chart->setPlotAreaBackgroundVisible(false);
    chart->setMargins(QMargins(0, 0, 0, 0));
    chart->layout()->setContentsMargins(0, 0, 0, 0);

    // One bar per day, oldest first, in hours.
    auto *set = new QBarSet(localized("시간"));
    set->setColor(secondary);
    set->setBorderColor(secondary);
    const QLocale locale = interfaceLocale();
    for (const DailyUsage &day : m_summary.days) {
        *set << hours(day.seconds);
        m_barLabels.append(locale.toString(day.date.date(), QLocale::ShortFormat));
        m_barValues.append(DurationText::usage(day.seconds));
    }
    auto *bars = new QBarSeries;
    bars->setBarWidth(0.6);
    bars->append(set);
    chart->addSeries(bars);

    // The daily average, across the whole chart.
    const double average = hours(m_summary.dailyAverage());
    const double left = -0.5;
    const double right = double(m_summary.days.size()) - 0.5;
    auto *rule = new QLineSeries;
    rule->setName(localized("평균"));
    rule->append(left, average);
    rule->append(right, average);
    QPen pen(QColor(0x34, 0xc7, 0x59));
    pen.setWidthF(1);
    pen.setDashPattern({ 4, 3 });
    rule->setPen(pen);
    chart->addSeries(rule);

    auto *days = new QBarCategoryAxis;
    days->setTitleText(localized("날짜"));
    days->setTitleVisible(false);
    days->append(weekdayLabels(m_summary.days));
    days->setLabelsFont(axisFont);
    days->setLabelsColor(secondary);
    days->setLinePen(Qt::NoPen);
    days->setGridLinePen(gridPen);
    chart->addAxis(days, Qt::AlignBottom);

    const double maximum = scaleMaximum(m_summary);
    auto *scale = new QCategoryAxis;
    scale->setTitleText(localized("시간"));
    scale->setTitleVisible(false);
    scale->setRange(0, maximum);
    scale->setStartValue(0);
    scale->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    for (const double value : axisValues(maximum))
        scale->append(hourLabel(value), value);
    scale->setLabelsFont(axisFont);
    scale->setLabelsColor(secondary);
    scale->setLinePen(Qt::NoPen);
    scale->setGridLinePen(gridPen);
    chart->addAxis(scale, Qt::AlignRight);

    for (QAbstractSeries *series : chart->series()) {
        series->attachAxis(days);
        series->attachAxis(scale);
    }

    connect(bars, &QBarSeries::hovered, this, [this](bool entered, int index) {
        if (entered && index >= 0 && index < m_barLabels.size())
            QToolTip::showText(QCursor::pos(), m_barLabels.at(index) + QLatin1Char('\n') + m_barValues.at(index));
        else
            QToolTip::hideText();
    });

    auto *view = new QChartView(chart);
    view->setObjectName(QStringLiteral("chart.daily"));
    view->setRenderHint(QPainter::Antialiasing);
    view->setFrameShape(QFrame::NoFrame);
    view->setStyleSheet(QStringLiteral("background: transparent"));
    // Enough for a week's bars and their labels; the card is no taller than
    // what the chart needs.
    view->setFixedHeight(110);
    return view;
}

void UsageChartsView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.05);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), 10, 10);
}
