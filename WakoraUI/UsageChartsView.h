#pragma once

#include "UsageSummary.h"

#include <QList>
#include <QStringList>
#include <QWidget>

class QVBoxLayout;

// The card with the last week of keeping awake: the heading "이번 주", the
// week's total, a bar per day in hours with a dashed line at the daily
// average, and the average as text; or, for an empty history, a short note.
// Its parts carry the identifiers "chart.total", "chart.daily",
// "chart.average" and "chart.empty". It only shows; a new summary replaces
// what it shows.
class UsageChartsView : public QWidget
{
    Q_OBJECT

public:
    explicit UsageChartsView(UsageSummary summary = {}, QWidget *parent = nullptr);

    const UsageSummary &summary() const { return m_summary; }
    void setSummary(UsageSummary summary);

    // The top of the hour scale: the largest day's hours, but at least 1, so
    // that an almost idle week still shows a one-hour scale.
    static double scaleMaximum(const UsageSummary &summary);
    // About three evenly spaced values from 0 for the hour axis, on steps of
    // 1, 2, 2.5 or 5 times a power of ten.
    static QList<double> axisValues(double maximum);
    // An axis value: the hours with at most one fraction digit, then "시간".
    static QString hourLabel(double hours);

    // For each bar, oldest first: its date (abbreviated) and its duration.
    const QStringList &barLabels() const { return m_barLabels; }
    const QStringList &barValues() const { return m_barValues; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void rebuild();
    QWidget *dailyChart();

    UsageSummary m_summary;
    QVBoxLayout *m_layout;
    QStringList m_barLabels;
    QStringList m_barValues;
};
