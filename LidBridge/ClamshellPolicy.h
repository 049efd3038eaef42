#pragma once

#include "ClamshellMode.h"
#include "Expected.h"
#include "LidBridgeExport.h"
#include "OwnershipMarker.h"
#include "SleepDisabledSetting.h"

#include <memory>

// Decides, from the system setting and our ownership marker, what to change
// and whose the setting is. We only ever turn the setting off again if we
// turned it on. It keeps no state of its own and locks nothing: callers
// serialise every call on one policy.
class LIDBRIDGE_EXPORT ClamshellPolicy
{
public:
    ClamshellPolicy(std::shared_ptr<SleepDisabledSetting> setting, std::shared_ptr<OwnershipMarker> marker);

    Expected<ClamshellMode, QString> status() const;
    Expected<ClamshellMode, QString> enable();
    Expected<void, QString> restore();
    // Whether we have the setting to give back (the marker exists).
    bool owns() const { return m_marker->exists(); }

private:
    std::shared_ptr<SleepDisabledSetting> m_setting;
    std::shared_ptr<OwnershipMarker> m_marker;
};
