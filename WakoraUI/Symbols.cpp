#include "Symbols.h"

QIcon symbolIcon(const QString &name)
{
    QIcon icon(QStringLiteral(":/symbols/") + name);
    icon.setIsMask(true);
    return icon;
}
