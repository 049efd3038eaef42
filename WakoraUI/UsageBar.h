#pragma once

#include <QWidget>

// The bar of one frequent app: an area 16 points high filling its width,
// holding a rounded, tinted bar 8 points high whose length shows the app's
// minutes against the largest of the list.
class UsageBar : public QWidget
{
    Q_OBJECT

public:
    UsageBar(qint64 minutes, qint64 largestMinutes, QWidget *parent = nullptr);

    qint64 minutes() const { return m_minutes; }
    // The bar's length in the current width.
    double barWidth() const { return widthFor(width(), m_minutes, m_largest); }

    // The area's width times minutes / largest (nothing when the largest is
    // below 1), but never below 4 points, so that every app shows a bar.
    static double widthFor(double areaWidth, qint64 minutes, qint64 largestMinutes);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qint64 m_minutes;
    qint64 m_largest;
};
