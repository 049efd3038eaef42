#include "ClamshellMode.h"

std::optional<ClamshellMode> clamshellModeFromRaw(qint64 raw)
{
    switch (raw) {
    case 0:
        return ClamshellMode::off;
    case 1:
        return ClamshellMode::owned;
    case 2:
        return ClamshellMode::system;
    default:
        return std::nullopt;
    }
}
