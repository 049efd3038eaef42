#pragma once

#include "MainWindowOptions.h"

#include <QMainWindow>

#include <optional>

class ClamshellController;
class MainViewController;
class PowerStatusReading;
class PowerToggling;
class RunningApplicationReading;
class UsageHistoryReading;

// The application's one window, "Wakora" (identifier "mainWindow"): a fixed
// 720-point-wide window around a MainViewController, as tall as its content
// needs. Closing it only hides it; present() brings it back. Main thread only.
class MainWindowController : public QMainWindow
{
    Q_OBJECT

public:
    MainWindowController(PowerToggling *powerController, PowerStatusReading *statusReader,
        ClamshellController *clamshell, UsageHistoryReading *usage, std::optional<MainWindowOptions> options,
        RunningApplicationReading *applications = nullptr, QWidget *parent = nullptr);

    MainViewController *viewController() const { return m_view; }

public Q_SLOTS:
    // Shows the window in front and gives it the keyboard.
    void present();
    // Shows `message` as the last error, then presents the window.
    void presentError(const QString &message);

private:
    MainViewController *m_view;
};
