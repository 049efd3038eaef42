#pragma once

#include "LidBridgeExport.h"

#include <QString>

// The marker file's failures, as the texts the helper's caller is shown.
class LIDBRIDGE_EXPORT MarkerError
{
public:
    MarkerError() = delete;

    static QString unsafeDirectory();
    static QString cannotCreate(int errorNumber);
    static QString cannotRemove(int errorNumber);
};

// The C library's standard message for an error number.
LIDBRIDGE_EXPORT QString systemErrorText(int errorNumber);
