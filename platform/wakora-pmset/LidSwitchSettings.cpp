#include "LidSwitchSettings.h"

namespace {

const QString ignore = QStringLiteral("ignore");

std::optional<QString> stringProperty(const QVariantMap &properties, const QString &name)
{
    const auto found = properties.constFind(name);
    if (found == properties.constEnd())
        return std::nullopt;
    return found->toString();
}

} // namespace

const QStringList LidSwitchSettings::keys = { QStringLiteral("HandleLidSwitch"),
    QStringLiteral("HandleLidSwitchExternalPower"), QStringLiteral("HandleLidSwitchDocked") };

LidSwitchSettings LidSwitchSettings::fromProperties(const QVariantMap &properties)
{
    return { stringProperty(properties, keys[0]), stringProperty(properties, keys[1]),
        stringProperty(properties, keys[2]) };
}

bool LidSwitchSettings::sleepDisabled() const
{
    if (handleLidSwitch != ignore || docked != ignore)
        return false;
    // Unset (""), or a logind older than the setting (absent): as HandleLidSwitch.
    return !externalPower || externalPower->isEmpty() || *externalPower == ignore;
}
