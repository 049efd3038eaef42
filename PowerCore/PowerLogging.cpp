#include "PowerLogging.h"

Q_LOGGING_CATEGORY(lcPowerController, "com.quorvel.WakoraApp.PowerController")
