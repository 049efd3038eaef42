#include "InterfaceLocale.h"

QLocale interfaceLocale()
{
    return QLocale(QLocale::Korean, QLocale().territory());
}

QString dayText(const QDate &date)
{
    return interfaceLocale().toString(date, QStringLiteral("MMMM d일 (ddd)"));
}
