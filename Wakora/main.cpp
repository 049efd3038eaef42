// Wakora: the main window. It holds no assertion itself; the agent does.

#include "AppDelegate.h"
#include "ApplicationInstance.h"
#include "FixtureMode.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

#include <cstdlib>

namespace {

// For the start-up benchmark only (WAKORA_REPORT_FIRST_PAINT set): says
// "painted" on standard output once the main window has drawn itself, then
// ends the program.
class FirstPaintProbe : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->objectName() == QLatin1String("mainWindow")) {
            QMetaObject::invokeMethod(
                this,
                [] {
                    QTextStream(stdout) << "painted" << Qt::endl;
                    std::_Exit(0);
                },
                Qt::QueuedConnection);
        }
        return false;
    }
};

} // namespace

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

    if (qEnvironmentVariableIsSet("WAKORA_REPORT_FIRST_PAINT"))
        app.installEventFilter(new FirstPaintProbe(&app));

    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
