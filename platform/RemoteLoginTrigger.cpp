#include "RemoteLoginTrigger.h"

#include "DBusCalls.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QPointer>

#include <algorithm>

namespace {

const QString logindService = QStringLiteral("org.freedesktop.login1");
const QString logindPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
constexpr std::chrono::milliseconds callTimeout(5000);

} // namespace

RemoteLoginTrigger::RemoteLoginTrigger(QDBusConnection systemBus, QObject *parent)
    : Trigger(parent)
    , m_bus(std::move(systemBus))
{ }

RemoteLoginTrigger::~RemoteLoginTrigger()
{
    stop();
}

qint64 RemoteLoginTrigger::defaultKinds() const
{
    return assertionBit(AssertionKind::systemSleep);
}

std::optional<QString> RemoteLoginTrigger::unavailable() const
{
    const QString missing = QStringLiteral("logind를 찾을 수 없어 원격 로그인을 알 수 없습니다");
    if (m_watching && m_logindFound)
        return *m_logindFound ? std::nullopt : std::optional<QString>(missing);
    // Not watching: asked of the bus daemon itself, which answers at once
    // (this is not a call to logind, which could be slow to answer).
    if (!m_bus.isConnected())
        return missing;
    QDBusConnectionInterface *daemon = m_bus.interface();
    if (daemon->isServiceRegistered(logindService).value())
        return std::nullopt;
    if (daemon->activatableServiceNames().value().contains(logindService))
        return std::nullopt;
    return missing;
}

QString RemoteLoginTrigger::describe(const QString &user, const QString &host, qsizetype others)
{
    const QString first = host.isEmpty() ? user : user + QLatin1Char('@') + host;
    return others > 0 ? QStringLiteral("%1 외 %2개").arg(first).arg(others) : first;
}

void RemoteLoginTrigger::start(const QVariantMap &options)
{
    Q_UNUSED(options); // nothing to set: any remote session counts
    if (m_watching)
        return;
    m_watching = true;
    ++m_generation;
    // The signals are followed before logind is asked, so no session that
    // comes or goes after the listing is missed.
    m_logind = std::make_unique<QDBusServiceWatcher>(logindService, m_bus, QDBusServiceWatcher::WatchForOwnerChange);
    connect(m_logind.get(), &QDBusServiceWatcher::serviceOwnerChanged, this, &RemoteLoginTrigger::logindChanged);
    m_bus.connect(logindService, logindPath, managerInterface, QStringLiteral("SessionNew"), this,
        SLOT(sessionNew(QString, QDBusObjectPath)));
    m_bus.connect(logindService, logindPath, managerInterface, QStringLiteral("SessionRemoved"), this,
        SLOT(sessionRemoved(QString, QDBusObjectPath)));
    listSessions(m_generation);
}

void RemoteLoginTrigger::stop()
{
    if (!m_watching)
        return;
    m_watching = false;
    ++m_generation;
    m_logind.reset();
    m_bus.disconnect(logindService, logindPath, managerInterface, QStringLiteral("SessionNew"), this,
        SLOT(sessionNew(QString, QDBusObjectPath)));
    m_bus.disconnect(logindService, logindPath, managerInterface, QStringLiteral("SessionRemoved"), this,
        SLOT(sessionRemoved(QString, QDBusObjectPath)));
    m_sessions.clear();
    m_logindFound.reset();
    clearActive();
}

void RemoteLoginTrigger::logindChanged(const QString &, const QString &, const QString &newOwner)
{
    if (!m_watching)
        return;
    // A restarted logind is listed afresh; what the old one said is dropped.
    ++m_generation;
    m_sessions.clear();
    if (newOwner.isEmpty()) {
        m_logindFound = false;
        decide();
        return;
    }
    listSessions(m_generation);
}

QCoro::Task<> RemoteLoginTrigger::listSessions(quint64 generation)
{
    QPointer<RemoteLoginTrigger> self(this);
    const QDBusMessage list
        = QDBusMessage::createMethodCall(logindService, logindPath, managerInterface, QStringLiteral("ListSessions"));
    const QDBusMessage reply = co_await DBusCalls::call(m_bus, list, callTimeout);
    if (!self || self->m_generation != generation)
        co_return;
    self->m_logindFound = reply.type() == QDBusMessage::ReplyMessage;
    if (!*self->m_logindFound) {
        self->decide();
        co_return;
    }
    const QDBusArgument sessions = reply.arguments().value(0).value<QDBusArgument>();
    sessions.beginArray();
    while (!sessions.atEnd()) {
        QString id;
        uint uid = 0;
        QString user;
        QString seat;
        QDBusObjectPath path;
        sessions.beginStructure();
        sessions >> id >> uid >> user >> seat >> path;
        sessions.endStructure();
        self->addSession(id, path.path());
    }
    sessions.endArray();
    self->decide();
}

void RemoteLoginTrigger::sessionNew(const QString &id, const QDBusObjectPath &path)
{
    if (m_watching)
        addSession(id, path.path());
}

void RemoteLoginTrigger::sessionRemoved(const QString &id, const QDBusObjectPath &)
{
    if (!m_watching)
        return;
    std::erase_if(m_sessions, [&id](const Session &session) { return session.id == id; });
    decide();
}

void RemoteLoginTrigger::addSession(const QString &id, const QString &path)
{
    // One announced while the listing was on its way is listed too.
    if (std::any_of(m_sessions.cbegin(), m_sessions.cend(), [&id](const Session &held) { return held.id == id; }))
        return;
    Session session;
    session.id = id;
    session.path = path;
    m_sessions.push_back(session);
    readSession(id, path, m_generation);
}

QCoro::Task<> RemoteLoginTrigger::readSession(QString id, QString path, quint64 generation)
{
    QPointer<RemoteLoginTrigger> self(this);
    QDBusMessage getAll = QDBusMessage::createMethodCall(
        logindService, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    getAll << sessionInterface;
    const QDBusMessage reply = co_await DBusCalls::call(m_bus, getAll, callTimeout);
    if (!self || self->m_generation != generation)
        co_return;
    const auto session = std::find_if(self->m_sessions.begin(), self->m_sessions.end(),
        [&id, &path](const Session &held) { return held.id == id && held.path == path; });
    if (session == self->m_sessions.end()) // removed meanwhile
        co_return;
    // A session that cannot be read (gone before its removal is heard)
    // counts as local.
    const QVariantMap properties = reply.type() == QDBusMessage::ReplyMessage
        ? qdbus_cast<QVariantMap>(reply.arguments().value(0))
        : QVariantMap();
    session->read = true;
    session->remote = properties.value(QStringLiteral("Remote")).toBool();
    session->user = properties.value(QStringLiteral("Name")).toString();
    session->host = properties.value(QStringLiteral("RemoteHost")).toString();
    self->decide();
}

void RemoteLoginTrigger::decide()
{
    const auto remote = [](const Session &session) { return session.read && session.remote; };
    const auto first = std::find_if(m_sessions.cbegin(), m_sessions.cend(), remote);
    if (first == m_sessions.cend()) {
        setActive(false);
        return;
    }
    const auto others = std::count_if(first + 1, m_sessions.cend(), remote);
    setActive(true, describe(first->user, first->host, others));
}
