#include "ToggleSwitch.h"

#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QKeyEvent>
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
    return { 42, 26 };
}

void ToggleSwitch::focusInEvent(QFocusEvent *event)
{
    // The ring marks where the keyboard is; a click or a window coming up
    // gives focus too, and should not draw it.
    const Qt::FocusReason reason = event->reason();
    m_showsFocusRing
        = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
    QAbstractButton::focusInEvent(event);
}

void ToggleSwitch::focusOutEvent(QFocusEvent *event)
{
    m_showsFocusRing = false;
    QAbstractButton::focusOutEvent(event);
}

void ToggleSwitch::keyPressEvent(QKeyEvent *event)
{
    // Working the switch from the keyboard shows where the keyboard is.
    if (!m_showsFocusRing) {
        m_showsFocusRing = true;
        update();
    }
    QAbstractButton::keyPressEvent(event);
}

QColor ToggleSwitch::offTrackColour(const QPalette &palette)
{
    // The text colour thinned out stands apart from the window in light and
    // dark palettes alike, where Mid is often the window's own grey.
    QColor colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(0.3);
    return colour;
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(2, 2, -2, -2);
    const qreal radius = track.height() / 2;

    QColor fill = isChecked() ? palette().color(QPalette::Highlight) : offTrackColour(palette());
    if (!isEnabled())
        fill.setAlphaF(fill.alphaF() * 0.45);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, radius, radius);

    // A white knob with a faint edge, as on every platform's switch.
    const qreal inset = 2;
    const qreal diameter = track.height() - 2 * inset;
    const qreal x = isChecked() ? track.right() - inset - diameter : track.left() + inset;
    QColor knob(Qt::white);
    if (!isEnabled())
        knob.setAlphaF(0.6);
    QColor edge(Qt::black);
    edge.setAlphaF(0.15);
    painter.setPen(QPen(edge, 0.5));
    painter.setBrush(knob);
    painter.drawEllipse(QRectF(x, track.top() + inset, diameter, diameter));

    if (hasFocus() && m_showsFocusRing) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), radius + 1, radius + 1);
    }
}
