#pragma once

#include "LidBridgeExport.h"

#include <QStringList>

// The command line of the power-management command and the reading of its
// listing. Nothing here runs the command.
class LIDBRIDGE_EXPORT PmsetCommand
{
public:
    PmsetCommand() = delete;

    static QStringList readArguments();
    static QStringList writeArguments(bool disabled);

    // Whether the listing says sleep is disabled system-wide: the first line
    // whose first field is "SleepDisabled" decides, by a last field of "1".
    static bool sleepDisabled(QStringView listing);

    // The listing's non-empty lines, split at every line break the command's
    // output may use: LF, VT, FF, CR, CR LF (one break), U+0085, U+2028, U+2029.
    static QList<QStringView> lines(QStringView text);
};
