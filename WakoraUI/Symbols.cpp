#include "Symbols.h"

#include <QPainter>

QIcon symbolIcon(const QString &name)
{
    QIcon icon(QStringLiteral(":/symbols/") + name);
    icon.setIsMask(true);
    return icon;
}

QPixmap symbolPixmap(const QString &name, int size, const QColor &colour, qreal devicePixelRatio)
{
    // Our SVGs are black shapes on nothing: keep their coverage, take the colour.
    QPixmap pixmap = QIcon(QStringLiteral(":/symbols/") + name).pixmap(QSize(size, size), devicePixelRatio);
    if (pixmap.isNull())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRect(QPoint(0, 0), pixmap.deviceIndependentSize().toSize()), colour);
    return pixmap;
}

QIcon tintedSymbolIcon(const QString &name, const QColor &colour, int size)
{
    QIcon icon;
    for (const qreal ratio : { 1.0, 2.0 }) {
        const QPixmap pixmap = symbolPixmap(name, size, colour, ratio);
        if (!pixmap.isNull())
            icon.addPixmap(pixmap);
    }
    return icon;
}
