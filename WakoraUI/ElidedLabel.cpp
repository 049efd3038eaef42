#include "ElidedLabel.h"

#include <QEvent>

ElidedLabel::ElidedLabel(const QString &text, QWidget *parent)
    : QLabel(text, parent)
    , m_fullText(text)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize ElidedLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    return { fontMetrics().horizontalAdvance(m_fullText) + margins.left() + margins.right(),
        QLabel::sizeHint().height() };
}

QSize ElidedLabel::minimumSizeHint() const
{
    return { fontMetrics().horizontalAdvance(QChar(0x2026)) * 2, QLabel::minimumSizeHint().height() };
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        elide();
}

void ElidedLabel::elide()
{
    const QString shown = fontMetrics().elidedText(m_fullText, Qt::ElideRight, contentsRect().width());
    if (shown != text())
        setText(shown);
    setToolTip(shown == m_fullText ? QString() : m_fullText);
}
