#include "SymbolLabel.h"

#include "Symbols.h"

#include <QEvent>

SymbolLabel::SymbolLabel(const QString &symbol, int size, QWidget *parent)
    : QLabel(parent)
    , m_size(size)
{
    setFixedSize(size, size);
    setSymbol(symbol);
}

void SymbolLabel::setSymbol(const QString &symbol)
{
    m_symbol = symbol;
    setProperty("symbol", symbol);
    render();
}

void SymbolLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange)
        render();
}

void SymbolLabel::showEvent(QShowEvent *event)
{
    // On screen the pixel density is known; it may differ from the guess.
    render();
    QLabel::showEvent(event);
}

void SymbolLabel::render()
{
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    setPixmap(symbolPixmap(m_symbol, m_size, palette().color(group, foregroundRole()), devicePixelRatioF()));
}
