#include "InterfaceLocale.h"

QLocale interfaceLocale()
{
    return QLocale(QLocale::Korean, QLocale().territory());
}
