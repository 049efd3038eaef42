#pragma once

#include "Expected.h"

#include <QString>

// Exists exactly while we have turned the sleep-disabled setting on and not
// yet off again.
class OwnershipMarker
{
public:
    virtual ~OwnershipMarker() = default;

    virtual bool exists() const = 0;
    virtual Expected<void, QString> create() = 0;
    virtual Expected<void, QString> remove() = 0;
};
