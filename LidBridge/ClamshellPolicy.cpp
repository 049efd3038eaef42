#include "ClamshellPolicy.h"

ClamshellPolicy::ClamshellPolicy(std::shared_ptr<SleepDisabledSetting> setting, std::shared_ptr<OwnershipMarker> marker)
    : m_setting(std::move(setting))
    , m_marker(std::move(marker))
{ }

Expected<ClamshellMode, QString> ClamshellPolicy::status() const
{
    if (m_marker->exists())
        return ClamshellMode::owned;
    const auto disabled = m_setting->read();
    if (!disabled)
        return Unexpected(disabled.error());
    return disabled.value() ? ClamshellMode::system : ClamshellMode::off;
}

Expected<ClamshellMode, QString> ClamshellPolicy::enable()
{
    if (m_marker->exists())
        return ClamshellMode::owned;
    const auto disabled = m_setting->read();
    if (!disabled)
        return Unexpected(disabled.error());
    if (disabled.value())
        return ClamshellMode::system; // someone else's setting: no marker, no write

    // The marker goes first, so a crash between the two steps leaves a marker
    // the next start-up restore finds, never a setting nobody owns.
    if (const auto created = m_marker->create(); !created)
        return Unexpected(created.error());
    if (const auto written = m_setting->write(true); !written) {
        // The caller needs the write's error, not the clean-up's.
        (void)m_marker->remove();
        return Unexpected(written.error());
    }
    return ClamshellMode::owned;
}

Expected<void, QString> ClamshellPolicy::restore()
{
    if (!m_marker->exists())
        return {};
    if (const auto written = m_setting->write(false); !written)
        return written; // the marker stays, so a later restore tries again
    return m_marker->remove();
}
