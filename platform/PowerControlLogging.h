#pragma once

#include <QLoggingCategory>

// Taking and giving back the desktop's inhibitors.
Q_DECLARE_LOGGING_CATEGORY(lcPowerControl)
