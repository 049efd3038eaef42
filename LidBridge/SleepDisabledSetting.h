#pragma once

#include "Expected.h"

#include <QString>

// The system-wide "sleep disabled" switch. Failures carry the text the peer
// is shown.
class SleepDisabledSetting
{
public:
    virtual ~SleepDisabledSetting() = default;

    virtual Expected<bool, QString> read() = 0;
    virtual Expected<void, QString> write(bool disabled) = 0;
};
