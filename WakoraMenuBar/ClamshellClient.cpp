#include "ClamshellClient.h"

#include "ClamshellService.h"
#include "PeerProcess.h"
#include "ReplyOnce.h"

#include <QCoreApplication>
#include <QCoroDBusPendingCall>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QTimer>

Q_LOGGING_CATEGORY(lcHelperClient, "com.quorvel.WakoraApp.ClamshellClient")

namespace {

// The replies' shape, as the helper's interface file gives it for every method.
const QString replySignature = QStringLiteral("xas");

// Errors that mean the owner we talk to is gone.
bool meansOwnerGone(const QString &errorName)
{
    return errorName == u"org.freedesktop.DBus.Error.ServiceUnknown"
        || errorName == u"org.freedesktop.DBus.Error.NameHasNoOwner"
        || errorName == u"org.freedesktop.DBus.Error.Disconnected";
}

QDBusMessage busCall(const QString &method, const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), method);
    call.setArguments(arguments);
    return call;
}

} // namespace

QString ClamshellClientError::notResponding()
{
    return QCoreApplication::translate("WakoraMenuBar", "헬퍼가 응답하지 않습니다.");
}

ClamshellClient::ClamshellClient(QDBusConnection bus, ProgramLocations locations,
    std::shared_ptr<ServiceRegistration> registration, Options options, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
    , m_locations(std::move(locations))
    , m_registration(std::move(registration))
    , m_options(options)
    , m_watcher(QString(), bus, QDBusServiceWatcher::WatchForUnregistration)
{
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &ClamshellClient::connectionLost);
    m_reconnectDelay = m_options.firstReconnect;
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &ClamshellClient::reconnect);
    watchForDisconnection();
}

void ClamshellClient::watchForDisconnection()
{
    // libdbus tells a connection that the bus has gone away with this local
    // signal: no polling while the bus is there.
    m_bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
        QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), this, SLOT(busDisconnected()));
}

void ClamshellClient::busDisconnected()
{
    qCWarning(lcHelperClient, "The system bus is gone");
    // The helper went with the bus (it gives the setting back as it goes).
    if (m_connection)
        connectionLost(*m_connection);
    if (m_options.reconnect && !m_reconnectTimer.isActive()) {
        m_reconnectDelay = m_options.firstReconnect;
        m_reconnectTimer.start(m_reconnectDelay);
    }
}

void ClamshellClient::reconnect()
{
    QDBusConnection fresh = m_options.reconnect();
    if (!fresh.isConnected()) {
        QDBusConnection::disconnectFromBus(fresh.name());
        m_reconnectDelay = std::min(m_reconnectDelay * 2, m_options.longestReconnect);
        m_reconnectTimer.start(m_reconnectDelay);
        return;
    }
    qCInfo(lcHelperClient, "Connected to the system bus again");
    m_bus = fresh;
    m_watcher.setConnection(fresh);
    watchForDisconnection();
    // Whatever was known is from the old bus: the owner looks again.
    if (onConnectionLost)
        onConnectionLost();
}

ClamshellClient::~ClamshellClient() = default;

Expected<ClamshellActivation, QString> ClamshellClient::activationFromReply(qint64 mode, const QStringList &failure)
{
    // The text first: a present text is a failure whatever the mode says.
    if (!failure.isEmpty())
        return Unexpected(failure.first());
    switch (mode) {
    case 1:
        return ClamshellActivation::ownedByApp;
    case 2:
        return ClamshellActivation::onOutsideApp;
    default:
        return ClamshellActivation::off;
    }
}

QCoro::Task<Expected<QString, QString>> ClamshellClient::connection()
{
    if (m_connection)
        co_return QString(*m_connection); // a copy: QCoro moves from what it is given
    QPointer<ClamshellClient> self(this);
    const QDBusConnection bus = m_bus;
    const QString name = ClamshellService::machServiceName();

    QDBusPendingCall asking = bus.asyncCall(busCall(QStringLiteral("GetNameOwner"), { name }));
    QDBusMessage owner = co_await asking;
    if (!self)
        co_return Unexpected(ClamshellClientError::notResponding());
    if (owner.type() != QDBusMessage::ReplyMessage) {
        // Not running: the bus starts it on demand.
        QDBusPendingCall starting = bus.asyncCall(busCall(QStringLiteral("StartServiceByName"), { name, quint32(0) }),
            int(m_options.requestTimeout.count()) + 5'000);
        const QDBusMessage started = co_await starting;
        if (!self)
            co_return Unexpected(ClamshellClientError::notResponding());
        if (started.type() != QDBusMessage::ReplyMessage)
            co_return Unexpected(started.errorMessage());
        QDBusPendingCall askingAgain = bus.asyncCall(busCall(QStringLiteral("GetNameOwner"), { name }));
        owner = co_await askingAgain;
        if (!self)
            co_return Unexpected(ClamshellClientError::notResponding());
    }
    if (owner.type() != QDBusMessage::ReplyMessage || owner.arguments().isEmpty())
        co_return Unexpected(owner.errorMessage());
    const QString unique = owner.arguments().first().toString();

    // Only root can own the helper's name on the system bus; checked here
    // too, so a misconfigured bus cannot hand us an impostor.
    QDBusPendingCall identifying = bus.asyncCall(busCall(QStringLiteral("GetConnectionUnixUser"), { unique }));
    const QDBusMessage user = co_await identifying;
    if (!self)
        co_return Unexpected(ClamshellClientError::notResponding());
    if (user.type() != QDBusMessage::ReplyMessage || user.arguments().isEmpty())
        co_return Unexpected(user.errorMessage());
    if (user.arguments().first().toUInt() != 0)
        co_return Unexpected(peerRefusal(
            unique, QStringLiteral("the helper runs as uid %1, not root").arg(user.arguments().first().toUInt())));

    if (m_connection) // another request got there first
        co_return QString(*m_connection);
    m_connection = unique;
    m_lossPolicy.adopt(unique);
    m_watcher.setWatchedServices({ unique });
    co_return unique;
}

QCoro::Task<Expected<ClamshellActivation, QString>> ClamshellClient::call(QString method)
{
    auto once = std::make_shared<ReplyOnce<ClamshellActivation>>();
    // Armed first, so it bounds finding and starting the helper too.
    QTimer::singleShot(
        m_options.requestTimeout, [once] { once->resume(Unexpected(ClamshellClientError::notResponding())); });

    [](QPointer<ClamshellClient> self, QString method, std::shared_ptr<ReplyOnce<ClamshellActivation>> once,
        std::chrono::milliseconds timeout) -> QCoro::Task<> {
        const auto target = co_await self->connection();
        if (!self) {
            once->resume(Unexpected(ClamshellClientError::notResponding()));
            co_return;
        }
        if (!target) {
            once->resume(Unexpected(target.error()));
            co_return;
        }
        const QString identity = target.value();
        QDBusMessage request = QDBusMessage::createMethodCall(
            identity, ClamshellService::objectPath(), ClamshellService::interfaceName(), method);
        request.setAutoStartService(false);
        // The bus's own time-out comes later than ours, so ours decides.
        auto *watcher = new QDBusPendingCallWatcher(
            self->m_bus.asyncCall(request, int((timeout + std::chrono::seconds(5)).count())), self.data());
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, self.data(), [self, once, watcher, identity] {
            watcher->deleteLater();
            const QDBusMessage reply = watcher->reply();
            if (reply.type() == QDBusMessage::ErrorMessage && meansOwnerGone(reply.errorName()))
                QMetaObject::invokeMethod(
                    self.data(), [self, identity] { self->connectionLost(identity); }, Qt::QueuedConnection);
            if (reply.type() == QDBusMessage::ErrorMessage)
                once->resume(Unexpected(reply.errorMessage()));
            else if (reply.signature() != replySignature)
                once->resume(Unexpected(ClamshellClientError::invalidProxy()));
            else
                once->resume(
                    activationFromReply(reply.arguments().at(0).toLongLong(), reply.arguments().at(1).toStringList()));
        });
    }(this, method, once, m_options.requestTimeout);

    co_return co_await once->result();
}

void ClamshellClient::connectionLost(const QString &identity)
{
    switch (m_lossPolicy.lost(identity)) {
    case ConnectionLossPolicy<QString>::Outcome::stale:
        return;
    case ConnectionLossPolicy<QString>::Outcome::clearSilently:
        m_connection.reset();
        m_watcher.setWatchedServices({});
        return;
    case ConnectionLossPolicy<QString>::Outcome::clearAndNotify:
        m_connection.reset();
        m_watcher.setWatchedServices({});
        if (onConnectionLost)
            onConnectionLost();
        return;
    }
}

QCoro::Task<ClamshellState> ClamshellClient::currentState()
{
    QPointer<ClamshellClient> self(this);
    const bool installed = !m_registration || m_registration->status() == ServiceRegistration::Status::enabled;
    const auto activation = co_await call(QStringLiteral("Status"));
    if (!activation) {
        qCDebug(lcHelperClient, "The helper's state is unavailable: %s", qUtf8Printable(activation.error()));
        // Unreachable for any reason reads as not registered; not installed at all, as not found.
        co_return ClamshellState{ installed ? ClamshellApproval::notRegistered : ClamshellApproval::notFound,
            ClamshellActivation::off };
    }
    if (self)
        self->m_lossPolicy.markWorking();
    co_return ClamshellState{ ClamshellApproval::enabled, activation.value() };
}

QCoro::Task<Expected<ClamshellState, QString>> ClamshellClient::setEnabled(bool enabled)
{
    QPointer<ClamshellClient> self(this);
    const auto activation = co_await call(enabled ? QStringLiteral("Enable") : QStringLiteral("Disable"));
    if (!activation)
        co_return Unexpected(activation.error());
    if (self)
        self->m_lossPolicy.markWorking();
    co_return ClamshellState{ ClamshellApproval::enabled, activation.value() };
}

void ClamshellClient::openSettings()
{
    // The main application of our prefix is where the helper's state is explained.
    const QString application = m_locations.mainApplication();
    if (!QFileInfo(application).isExecutable() || !QProcess::startDetached(application, {}))
        qCWarning(lcHelperClient, "Cannot open the main application %s", qUtf8Printable(application));
}
