#include "UsageBar.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {
constexpr int areaHeight = 16;
constexpr double barHeight = 8;
constexpr double minimumBarWidth = 4;
} // namespace

UsageBar::UsageBar(qint64 minutes, qint64 largestMinutes, QWidget *parent)
    : QWidget(parent)
    , m_minutes(minutes)
    , m_largest(largestMinutes)
{
    setFixedHeight(areaHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

double UsageBar::widthFor(double areaWidth, qint64 minutes, qint64 largestMinutes)
{
    const double share = largestMinutes < 1 ? 0.0 : std::clamp(double(minutes) / double(largestMinutes), 0.0, 1.0);
    return std::max(minimumBarWidth, std::max(areaWidth, 0.0) * share);
}

QSize UsageBar::sizeHint() const
{
    return { 120, areaHeight };
}

void UsageBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bar(0, (height() - barHeight) / 2, barWidth(), barHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Highlight));
    painter.drawRoundedRect(bar, barHeight / 2, barHeight / 2);
}
