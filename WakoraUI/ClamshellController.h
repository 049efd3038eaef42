#pragma once

#include "ClamshellPresentation.h"
#include "ClamshellServicing.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

// The one place in the interface that knows the lid-closed state: the last
// known state, the last failed switch's message, and a didChange() after
// every change of either (also when the values stay the same).
// Main thread only.
class ClamshellController : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *didChangeNotification = "ClamshellController.didChange";

    // `desktopDecidesLid`: the session's desktop runs the lid itself (see
    // DesktopLidSettings); read once, as the session's desktop never changes.
    explicit ClamshellController(std::shared_ptr<ClamshellServicing> service, QObject *parent = nullptr);
    ClamshellController(std::shared_ptr<ClamshellServicing> service, bool desktopDecidesLid, QObject *parent = nullptr);
    ~ClamshellController() override;

    ClamshellServicing &service() const { return *m_service; }
    ClamshellState state() const { return m_state; }
    std::optional<QString> lastError() const { return m_lastError; }
    bool desktopDecidesLid() const { return m_desktopDecidesLid; }
    // The power manager found running the lid itself at the last refresh; empty for none.
    QString lidHandler() const { return m_lidHandler; }
    // How each refresh finds that power manager (DesktopLidSettings::readLidHandler);
    // without one, only the session's desktop name tells.
    void setLidHandlerLookup(std::function<QCoro::Task<QString>()> lookup);
    // What the switches show for the current state on this desktop.
    ClamshellPresentation presentation() const
    {
        return ClamshellPresentation::of(m_state, m_desktopDecidesLid, m_lidHandler);
    }
    // The settings button's action: the desktop's power settings or the helper's approval.
    void openSettings();

    // Absent on success, otherwise the message the caller shows. On failure
    // the state is re-read first, so views snap back to the real position.
    QCoro::Task<std::optional<QString>> setEnabledAwaiting(bool enabled);

public Q_SLOTS:
    // Starts a refresh and returns at once.
    void refresh();

Q_SIGNALS:
    void didChange();

private:
    QCoro::Task<> refreshNow();

    std::shared_ptr<ClamshellServicing> m_service;
    ClamshellState m_state;
    std::optional<QString> m_lastError;
    bool m_desktopDecidesLid = false;
    std::function<QCoro::Task<QString>()> m_lidHandlerLookup;
    QString m_lidHandler;
};
