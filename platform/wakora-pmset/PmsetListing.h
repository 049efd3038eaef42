#pragma once

#include "IdleSettings.h"

#include <QByteArray>

// The text of `wakora-pmset -g`: the lid setting logind holds, then the idle
// delays in use, each line only where it has a source.
namespace PmsetListing {

QByteArray text(bool sleepDisabled, const IdleSettings &idle);

} // namespace PmsetListing
