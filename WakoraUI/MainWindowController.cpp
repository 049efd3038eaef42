#include "MainWindowController.h"

#include "MainViewController.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QStyle>

MainWindowController::MainWindowController(PowerToggling *powerController, PowerStatusReading *statusReader,
    ClamshellController *clamshell, UsageHistoryReading *usage, std::optional<MainWindowOptions> options,
    RunningApplicationReading *applications, QWidget *parent)
    : QMainWindow(parent)
    , m_view(new MainViewController(
          powerController, statusReader, clamshell, usage, std::move(options), applications, this))
{
    setObjectName(QStringLiteral("mainWindow"));
    setAccessibleName(QStringLiteral("Wakora"));
    setWindowTitle(QStringLiteral("Wakora"));
    // Closable and minimizable, not resizable; closing only hides it.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setCentralWidget(m_view);
    // The window is always as large as its content plus whatever menu bar is
    // set later, so the content keeps its full size below the menu bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_view->refitWindow();
    layout()->activate();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
}

void MainWindowController::present()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWindowController::presentError(const QString &message)
{
    m_view->showError(message);
    present();
}
