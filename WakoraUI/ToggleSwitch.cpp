#include "ToggleSwitch.h"

#include <QPainter>

ToggleSwitch::ToggleSwitch(QWidget *parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
}

QSize ToggleSwitch::sizeHint() const
{
    return { 38, 22 };
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;

    QColor fill = isChecked() ? palette().color(QPalette::Highlight) : palette().color(QPalette::Mid);
    if (!isEnabled())
        fill.setAlphaF(0.4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, radius, radius);

    const qreal inset = 2;
    const qreal diameter = track.height() - 2 * inset;
    const qreal x = isChecked() ? track.right() - inset - diameter : track.left() + inset;
    QColor knob = palette().color(QPalette::Base);
    if (!isEnabled())
        knob.setAlphaF(0.7);
    painter.setBrush(knob);
    painter.drawEllipse(QRectF(x, track.top() + inset, diameter, diameter));

    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1));
        painter.drawRoundedRect(track.adjusted(-0.5, -0.5, 0.5, 0.5), radius, radius);
    }
}
