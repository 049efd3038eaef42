#include "StatusPanelModel.h"

StatusPanelModel::StatusPanelModel(QObject *parent)
    : QObject(parent)
{ }

void StatusPanelModel::setOverview(QueryState<FriendlyStatus> overview)
{
    if (overview == m_overview)
        return;
    m_overview = std::move(overview);
    Q_EMIT overviewChanged();
}

void StatusPanelModel::setSettings(QueryState<QList<PowerSettingRow>> settings)
{
    if (settings == m_settings)
        return;
    m_settings = std::move(settings);
    Q_EMIT settingsChanged();
}

void StatusPanelModel::setUsage(std::optional<UsageSummary> usage)
{
    if (usage == m_usage)
        return;
    m_usage = std::move(usage);
    Q_EMIT usageChanged();
}

void StatusPanelModel::setOnRetry(Action action)
{
    m_onRetry = std::move(action);
    Q_EMIT onRetryChanged();
}

void StatusPanelModel::setOnClearUsage(Action action)
{
    m_onClearUsage = std::move(action);
    Q_EMIT onClearUsageChanged();
}

void StatusPanelModel::setOnRetrySettings(Action action)
{
    m_onRetrySettings = std::move(action);
    Q_EMIT onRetrySettingsChanged();
}

// Each action runs from a copy: it may replace itself while it runs.
void StatusPanelModel::retry() const
{
    if (const Action action = m_onRetry)
        action();
}

void StatusPanelModel::clearUsage() const
{
    if (const Action action = m_onClearUsage)
        action();
}

void StatusPanelModel::retrySettings() const
{
    if (const Action action = m_onRetrySettings)
        action();
}
