#pragma once

#include "ClamshellServicing.h"
#include "ConnectionLossPolicy.h"
#include "ProgramLocations.h"
#include "ServiceRegistration.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

// The texts of the client's own failures.
class ClamshellClientError
{
public:
    ClamshellClientError() = delete;

    static QString invalidProxy() { return QStringLiteral("Invalid helper proxy"); }
    static QString notResponding();
};

// The agent's client of the privileged helper on the system bus. Every
// request times out after ten seconds; the helper is started on demand by
// the bus. A "connection" is one owner of the helper's name that runs as
// root; requests go to that owner's unique name, and its leaving the bus is
// the connection's loss. Main thread only.
class ClamshellClient : public QObject, public ClamshellServicing
{
    Q_OBJECT

public:
    struct Options {
        std::chrono::milliseconds requestTimeout{ 10'000 };
        // Opens a new connection to the system bus, for when the one in use
        // reports the bus gone (a connection never comes back by itself).
        // Empty: the client stays on the connection it was given.
        std::function<QDBusConnection()> reconnect;
        std::chrono::milliseconds firstReconnect{ 500 };
        std::chrono::milliseconds longestReconnect{ 30'000 };
    };

    // registration: whether the helper is installed at all (may be null:
    // then it is taken as installed).
    ClamshellClient(QDBusConnection bus, ProgramLocations locations, std::shared_ptr<ServiceRegistration> registration,
        Options options, QObject *parent = nullptr);
    ~ClamshellClient() override;

    QCoro::Task<ClamshellState> currentState() override;
    QCoro::Task<Expected<ClamshellState, QString>> setEnabled(bool enabled) override;
    void openSettings() override;

    // One reply of the helper: the failure text if there is one, else the
    // mode as an activation (1 owned, 2 set elsewhere, anything else off).
    static Expected<ClamshellActivation, QString> activationFromReply(qint64 mode, const QStringList &failure);

    std::optional<QString> helperBusName() const { return m_connection; }
    bool isConnectedToBus() const { return m_bus.isConnected(); }

private Q_SLOTS:
    void busDisconnected();

private:
    void watchForDisconnection();
    void reconnect();

    QCoro::Task<Expected<QString, QString>> connection();
    QCoro::Task<Expected<ClamshellActivation, QString>> call(QString method);
    void connectionLost(const QString &identity);

    QDBusConnection m_bus;
    ProgramLocations m_locations;
    std::shared_ptr<ServiceRegistration> m_registration;
    Options m_options;
    std::optional<QString> m_connection;
    QDBusServiceWatcher m_watcher;
    ConnectionLossPolicy<QString> m_lossPolicy;
    std::chrono::milliseconds m_reconnectDelay;
    QTimer m_reconnectTimer;
};
