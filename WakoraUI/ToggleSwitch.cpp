#include "ToggleSwitch.h"

#include <QAccessibleWidget>
#include <QPainter>

namespace {

// What assistive technology sees of the switch: a check box named after its
// row, whose "Toggle" and "Press" act as a click does. (Qt's own button
// interface toggles a checkable button without a click, which would show
// the switch on while nothing was asked of the power controller.)
class AccessibleToggleSwitch : public QAccessibleWidget
{
public:
    explicit AccessibleToggleSwitch(ToggleSwitch *toggle)
        : QAccessibleWidget(toggle, QAccessible::CheckBox)
    { }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = button()->isChecked();
        return state;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (widget()->isEnabled())
            names.prepend(toggleAction());
        return names;
    }

    void doAction(const QString &action) override
    {
        if (action == toggleAction() || action == pressAction()) {
            if (widget()->isEnabled())
                button()->click();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

private:
    QAbstractButton *button() const { return static_cast<QAbstractButton *>(widget()); }
};

QAccessibleInterface *accessibleToggleSwitch(const QString &className, QObject *object)
{
    if (className == QLatin1String(ToggleSwitch::staticMetaObject.className()))
        if (auto *toggle = qobject_cast<ToggleSwitch *>(object))
            return new AccessibleToggleSwitch(toggle);
    return nullptr;
}

} // namespace

ToggleSwitch::ToggleSwitch(QWidget *parent)
    : QAbstractButton(parent)
{
    static const bool accessible = (QAccessible::installFactory(accessibleToggleSwitch), true);
    Q_UNUSED(accessible);
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
