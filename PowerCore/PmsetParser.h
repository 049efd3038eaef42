#pragma once

#include "PowerSetting.h"

#include <QList>
#include <QStringView>

// Reads the power-management command's listing into settings, one per
// non-blank line, in line order. Heading lines ("Currently in use:") name the
// section of the lines after them. Never fails: a line that does not split
// into a name and a value becomes a setting with an empty value.
class PmsetParser
{
public:
    PmsetParser() = delete;

    static QList<PowerSetting> parse(QStringView listing);
};
