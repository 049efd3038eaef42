// wakora: Wakora from a terminal.

#include "WakoraCommand.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("wakora"));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    WakoraCommand command(QDBusConnection::sessionBus(), ProgramLocations::ofThisProgram());
    int status = WakoraCommand::failure;
    QTimer::singleShot(0, [&] {
        command.run(arguments).then([&](int result) {
            status = result;
            QCoreApplication::exit(result);
        });
    });
    const int exited = application.exec();
    return exited == status ? status : exited;
}
