#pragma once

#include "FriendlyStatus.h"
#include "PowerSettingRow.h"
#include "QueryState.h"
#include "UsageSummary.h"

#include <QList>
#include <QObject>

#include <functional>
#include <optional>

// What the status panel shows. Its owner (the main window) fills the fields
// and the actions; the panel reads the fields, redraws on their signals and
// calls the actions. A field's signal is sent only when its value changes.
// Main thread only.
class StatusPanelModel : public QObject
{
    Q_OBJECT

public:
    using Action = std::function<void()>;

    explicit StatusPanelModel(QObject *parent = nullptr);

    const QueryState<FriendlyStatus> &overview() const { return m_overview; }
    void setOverview(QueryState<FriendlyStatus> overview);

    const QueryState<QList<PowerSettingRow>> &settings() const { return m_settings; }
    void setSettings(QueryState<QList<PowerSettingRow>> settings);

    const std::optional<UsageSummary> &usage() const { return m_usage; }
    void setUsage(std::optional<UsageSummary> usage);

    // Query the assertions again.
    void setOnRetry(Action action);
    // Erase the usage history.
    void setOnClearUsage(Action action);
    // Query the settings again.
    void setOnRetrySettings(Action action);

    // Run an action; one that is not set does nothing.
    void retry() const;
    void clearUsage() const;
    void retrySettings() const;

Q_SIGNALS:
    void overviewChanged();
    void settingsChanged();
    void usageChanged();
    void onRetryChanged();
    void onClearUsageChanged();
    void onRetrySettingsChanged();

private:
    QueryState<FriendlyStatus> m_overview = QueryState<FriendlyStatus>::loading();
    QueryState<QList<PowerSettingRow>> m_settings = QueryState<QList<PowerSettingRow>>::loading();
    std::optional<UsageSummary> m_usage;
    Action m_onRetry;
    Action m_onClearUsage;
    Action m_onRetrySettings;
};
