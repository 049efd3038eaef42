#include "ClamshellState.h"

std::optional<ClamshellActivation> clamshellActivationFromRaw(qint64 raw)
{
    switch (raw) {
    case 0:
        return ClamshellActivation::off;
    case 1:
        return ClamshellActivation::ownedByApp;
    case 2:
        return ClamshellActivation::onOutsideApp;
    default:
        return std::nullopt;
    }
}
