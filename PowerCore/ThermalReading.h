#pragma once

#include "LidGuardRules.h"

#include <optional>

// The machine's temperatures, as far as the lid guards need them: a zone
// that has reached its passive trip point, if any. A read may block briefly
// (firmware answers some zones), so callers run it off the main thread; an
// implementation must be safe to call from any one thread at a time.
class ThermalReading
{
public:
    virtual ~ThermalReading() = default;

    virtual std::optional<HotZone> hotZone() = 0;
};
