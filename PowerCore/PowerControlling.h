#pragma once

#include "AssertionKind.h"
#include "Expected.h"
#include "PowerError.h"

// The primitive that creates and releases one assertion. Identifiers are
// the implementation's own 32-bit handles.
class PowerControlling
{
public:
    virtual ~PowerControlling() = default;

    virtual Expected<quint32, PowerError> createAssertion(AssertionKind kind) = 0;
    virtual Expected<void, PowerError> releaseAssertion(quint32 id) = 0;
};
