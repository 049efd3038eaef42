// Wakora: the main window. It holds no assertion itself; the agent does.

#include "AppDelegate.h"
#include "ApplicationInstance.h"
#include "FixtureMode.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Wakora"));
    QApplication::setOrganizationName(QStringLiteral("quorvel"));
    QApplication::setApplicationVersion(QStringLiteral(WAKORA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("com.quorvel.WakoraApp"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/com.quorvel.WakoraApp.svg")));
    // Closing the window keeps the application running.
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList arguments = QApplication::arguments();
    AppDelegate delegate(arguments);

    // The fixture mode makes no connection outside the process; otherwise a
    // second launch brings the first one's window forward and ends.
    std::unique_ptr<ApplicationInstance> instance;
    if (!FixtureMode::fromArguments(arguments)) {
        instance
            = std::make_unique<ApplicationInstance>(QDBusConnection::sessionBus(), [&delegate] { delegate.present(); });
        if (instance->claim() == ApplicationInstance::Claim::presentedOther)
            return 0;
    }

    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
