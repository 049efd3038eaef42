#pragma once

#include "AssertionKind.h"
#include "MainWindowOptions.h"

#include <QCoroTask>
#include <QDateTime>
#include <QMap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

class ClamshellController;
class PowerStatusReading;
class PowerToggling;
class QAbstractButton;
class QLabel;
class QPushButton;
class RunningApplicationReading;
class StatusPanelModel;
class StatusPanelView;
class SymbolLabel;
class ToggleSwitch;
class UsageChartsView;
class UsageHistoryReading;

// Everything inside the main window: the header (awake or not, since when),
// the switches, the last error, the offline and lid-closed notices on the
// left; the status panel and the week's chart on the right. While on screen
// it asks for the processes that keep the machine awake every 3 seconds,
// until one query fails; the usage is reloaded once a minute. Controls carry
// their identifiers as objectName ("status.title", "toggle.systemSleep",
// "menubar.reconnect", "clamshell.notice", …). Main thread only.
class MainViewController : public QWidget
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    // When a timed session of the agent's ends; invalid while none runs.
    using SessionEnd = std::function<QCoro::Task<QDateTime>()>;
    using Reasons = std::function<QCoro::Task<QStringList>()>;

    // The collaborators must outlive the view. Without `clamshell` there is
    // no lid-closed row, without `usage` no chart is loaded, without
    // `options` no open-at-login row; without `applications` every process
    // counts as a system process except this system's own.
    MainViewController(PowerToggling *powerController, PowerStatusReading *statusReader, ClamshellController *clamshell,
        UsageHistoryReading *usage, std::optional<MainWindowOptions> options,
        RunningApplicationReading *applications = nullptr, QWidget *parent = nullptr);
    ~MainViewController() override;

    StatusPanelModel *panelModel() const { return m_panelModel; }
    UsageChartsView *chartsHost() const { return m_chartsHost; }

    // Shows `text` as the last error and refits the window.
    void showError(const QString &text);

    bool isPolling() const { return m_polling; }
    // For tests: a shorter polling period and a fixed clock.
    void setPollInterval(std::chrono::milliseconds interval) { m_pollInterval = interval; }
    void setClock(Clock now) { m_now = std::move(now); }
    // Shows the time left of a timed session beneath the header, asked with
    // every refresh of the overview.
    void setTimedSessionSource(SessionEnd source);
    // Why the machine is kept awake, or not, a line per reason beneath the
    // header, asked with every refresh of the overview.
    void setReasonsSource(Reasons source);
    // The agent's standing conditions in a line beneath the header; hidden
    // when empty.
    void setConditionsText(const QString &text);

    // The content height the visible items need, at least 440 points: the
    // left column, and the right one with the status panel's first two
    // sections whole above the usage card; no more than the screen's.
    int fittingHeight() const;

public Q_SLOTS:
    void refreshOverviewNow();
    void reconnect();
    void openClamshellSettings();
    // Resizes the window to the content, keeping its top edge in place.
    void refitWindow();

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *buildLeftColumn(bool withOpenAtLogin);
    QWidget *switchRow(const QString &symbol, const QString &label, ToggleSwitch *toggle);

    int chartsHeight() const;
    void tintButtonSymbols();
    void syncSwitches();
    void updateHeader();
    void updateClamshellSection();
    void powerStateChanged();

    void startOverview();
    void cancelOverview();
    void pollTick();

    QCoro::Task<> toggleChanged(AssertionKind kind, bool enabled);
    QCoro::Task<> openAtLoginToggled(bool enabled);
    QCoro::Task<> clamshellToggled(bool enabled);
    QCoro::Task<> refreshOpenAtLogin();
    QCoro::Task<> refreshTimedSession();
    QCoro::Task<> refreshReasons();
    QCoro::Task<> refreshOverview(quint64 generation);
    QCoro::Task<> refreshSettings();
    QCoro::Task<> loadUsage();
    QCoro::Task<> clearUsage();

    QPointer<PowerToggling> m_powerController;
    PowerStatusReading *m_statusReader;
    QPointer<ClamshellController> m_clamshell;
    UsageHistoryReading *m_usage;
    std::optional<MainWindowOptions> m_options;
    RunningApplicationReading *m_applications;
    Clock m_now = &QDateTime::currentDateTimeUtc;

    ToggleSwitch *m_openAtLoginSwitch = nullptr;
    UsageChartsView *m_chartsHost = nullptr;
    StatusPanelModel *m_panelModel = nullptr;
    StatusPanelView *m_panelView = nullptr;
    ToggleSwitch *m_clamshellSwitch = nullptr;
    QLabel *m_clamshellNotice = nullptr;
    QLabel *m_clamshellWarning = nullptr;
    QPushButton *m_clamshellSettingsButton = nullptr;
    QMap<AssertionKind, ToggleSwitch *> m_switches;
    QLabel *m_errorLabel = nullptr;
    QLabel *m_offlineLabel = nullptr;
    QPushButton *m_reconnectButton = nullptr;
    QWidget *m_offlineStack = nullptr;
    SymbolLabel *m_headerIcon = nullptr;
    QLabel *m_headerTitle = nullptr;
    QLabel *m_headerDetail = nullptr;
    QLabel *m_headerRemaining = nullptr;
    QLabel *m_headerConditions = nullptr;
    QLabel *m_headerHolds = nullptr; // a kind asked for that nothing holds
    SessionEnd m_sessionEnd;
    Reasons m_reasons;
    QLabel *m_headerReasons = nullptr; // what keeps the machine awake, or not
    QWidget *m_noticeStack = nullptr;
    QWidget *m_leftColumn = nullptr;
    bool m_isShowingClamshellError = false;

    // The polling: running or not, and a generation that tells a current
    // query's answer from one the last cancel made stale.
    QTimer m_pollTimer;
    QTimer m_deferredRefit;
    std::chrono::milliseconds m_pollInterval{ 3000 };
    bool m_polling = false;
    quint64 m_pollGeneration = 0;
    int m_ticks = 0;
};
