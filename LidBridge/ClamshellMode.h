#pragma once

#include "LidBridgeExport.h"

#include <QtGlobal>

#include <optional>

// Who holds the system-wide sleep-disabled setting. The raw value is what the
// helper replies with and what the agent passes on to the main application.
enum class ClamshellMode : qint64 {
    off = 0, // sleep not disabled, no marker
    owned = 1, // our marker exists: we turned it on and turn it off again
    system = 2, // disabled by someone else; left alone
};

LIDBRIDGE_EXPORT std::optional<ClamshellMode> clamshellModeFromRaw(qint64 raw);

constexpr qint64 rawValue(ClamshellMode mode)
{
    return static_cast<qint64>(mode);
}
