#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>

#include <functional>

// Keeps one main application per user session: the first instance owns the
// application's name on the session bus and serves Present(); a later
// launch asks that instance to bring its window forward, then exits.
class ApplicationInstance : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quorvel.WakoraApp.Application")

public:
    static constexpr const char *serviceName = "com.quorvel.WakoraApp";
    static constexpr const char *objectPath = "/com/quorvel/WakoraApp/Application";

    enum class Claim {
        claimed, // this process is the instance; Present() calls `onPresent`
        presentedOther, // another instance owns the name and was asked to present itself
        unavailable, // no bus, or the name is taken but its owner did not answer
    };

    ApplicationInstance(QDBusConnection bus, std::function<void()> onPresent, QObject *parent = nullptr);
    ~ApplicationInstance() override;

    Claim claim();

public Q_SLOTS:
    Q_SCRIPTABLE void Present();

private:
    QDBusConnection m_bus;
    std::function<void()> m_onPresent;
    bool m_owns = false;
};
