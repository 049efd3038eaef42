#include "MediaPlayingTrigger.h"

#include "DBusCalls.h"

#include <QDBusArgument>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QPointer>

namespace {

const QString playerPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString playerPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString rootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString propertiesChanged = QStringLiteral("PropertiesChanged");
const QString playbackStatus = QStringLiteral("PlaybackStatus");
constexpr std::chrono::milliseconds callTimeout(5000);

QVariant unwrapped(const QVariant &value)
{
    return value.canConvert<QDBusVariant>() ? value.value<QDBusVariant>().variant() : value;
}

// A property's value from a Get answer; invalid when the call failed.
QVariant gotValue(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {};
    return unwrapped(reply.arguments().value(0));
}

QDBusMessage getCall(const QString &busName, const QString &interface, const QString &property)
{
    QDBusMessage message
        = QDBusMessage::createMethodCall(busName, playerPath, propertiesInterface, QStringLiteral("Get"));
    message << interface << property;
    return message;
}

} // namespace

MediaPlayingTrigger::MediaPlayingTrigger(QDBusConnection sessionBus, std::chrono::milliseconds grace, QObject *parent)
    : Trigger(parent)
    , m_bus(std::move(sessionBus))
    , m_grace(grace)
{
    m_graceTimer.setSingleShot(true);
    m_graceTimer.setInterval(m_grace);
    connect(&m_graceTimer, &QTimer::timeout, this, &MediaPlayingTrigger::graceEnded);
}

MediaPlayingTrigger::~MediaPlayingTrigger()
{
    stop();
}

qint64 MediaPlayingTrigger::defaultKinds() const
{
    return assertionBit(AssertionKind::systemSleep) | assertionBit(AssertionKind::displaySleep);
}

QString MediaPlayingTrigger::fallbackIdentity(const QString &busName)
{
    return busName.mid(playerPrefix.size()).section(QLatin1Char('.'), 0, 0);
}

void MediaPlayingTrigger::start(const QVariantMap &options)
{
    Q_UNUSED(options); // nothing to set: any player counts
    if (m_watching)
        return;
    m_watching = true;
    ++m_generation;
    // The watcher's "*" asks the bus for the names in the MPRIS namespace
    // only (arg0namespace, which takes no trailing dot). Both matches go out
    // ahead of the listing on the same connection, so nothing that happens
    // after the bus answers it is missed.
    m_players = std::make_unique<QDBusServiceWatcher>(
        rootInterface + QLatin1Char('*'), m_bus, QDBusServiceWatcher::WatchForOwnerChange);
    connect(m_players.get(), &QDBusServiceWatcher::serviceOwnerChanged, this, &MediaPlayingTrigger::ownerChanged);
    m_bus.connect(QString(), playerPath, propertiesInterface, propertiesChanged, { playerInterface },
        QStringLiteral("sa{sv}as"), this, SLOT(playerPropertiesChanged(QDBusMessage)));
    listPlayers(m_generation);
}

void MediaPlayingTrigger::stop()
{
    if (!m_watching)
        return;
    m_watching = false;
    ++m_generation;
    m_players.reset();
    m_bus.disconnect(QString(), playerPath, propertiesInterface, propertiesChanged, { playerInterface },
        QStringLiteral("sa{sv}as"), this, SLOT(playerPropertiesChanged(QDBusMessage)));
    m_graceTimer.stop();
    m_known.clear();
    m_shown.clear();
    clearActive();
}

QCoro::Task<> MediaPlayingTrigger::listPlayers(quint64 generation)
{
    QPointer<MediaPlayingTrigger> self(this);
    const QDBusMessage list = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
    const QDBusMessage reply = co_await DBusCalls::call(m_bus, list, callTimeout);
    if (!self || self->m_generation != generation)
        co_return;
    const QStringList names = reply.arguments().value(0).toStringList();
    for (const QString &name : names) {
        // One that arrived meanwhile is already being read.
        if (name.startsWith(playerPrefix) && !self->m_known.contains(name))
            self->addPlayer(name, QString());
    }
}

void MediaPlayingTrigger::ownerChanged(const QString &busName, const QString &oldOwner, const QString &newOwner)
{
    if (!m_watching || !busName.startsWith(playerPrefix))
        return;
    if (!oldOwner.isEmpty() && m_known.remove(busName) > 0)
        decide(busName);
    if (!newOwner.isEmpty())
        addPlayer(busName, newOwner);
}

void MediaPlayingTrigger::addPlayer(const QString &busName, const QString &owner)
{
    Player player;
    player.owner = owner;
    player.serial = ++m_serials;
    m_known.insert(busName, player);
    readPlayer(busName, player.serial, m_generation);
}

bool MediaPlayingTrigger::stillFor(const QString &busName, quint64 serial, quint64 generation) const
{
    const auto found = m_known.constFind(busName);
    return m_generation == generation && found != m_known.cend() && found->serial == serial;
}

QCoro::Task<> MediaPlayingTrigger::readPlayer(QString busName, quint64 serial, quint64 generation)
{
    QPointer<MediaPlayingTrigger> self(this);
    const QDBusMessage get = getCall(busName, rootInterface, QStringLiteral("Identity"));
    const QDBusMessage reply = co_await DBusCalls::call(m_bus, get, callTimeout);
    if (!self || !self->stillFor(busName, serial, generation))
        co_return;
    Player &player = self->m_known[busName];
    player.identity = gotValue(reply).toString().trimmed();
    // Its signals come from its unique name; a listed player's is learnt here.
    if (player.owner.isEmpty() && reply.type() == QDBusMessage::ReplyMessage)
        player.owner = reply.service();
    co_await self->readStatus(busName, serial, generation);
}

QCoro::Task<> MediaPlayingTrigger::readStatus(QString busName, quint64 serial, quint64 generation)
{
    QPointer<MediaPlayingTrigger> self(this);
    m_known[busName].statusHeard = false;
    const QDBusMessage get = getCall(busName, playerInterface, playbackStatus);
    const QDBusMessage reply = co_await DBusCalls::call(m_bus, get, callTimeout);
    if (!self || !self->stillFor(busName, serial, generation))
        co_return;
    Player &player = self->m_known[busName];
    if (player.owner.isEmpty() && reply.type() == QDBusMessage::ReplyMessage)
        player.owner = reply.service();
    if (player.statusHeard) // a signal since the question is newer than this answer
        co_return;
    // A player that cannot tell counts as not playing.
    self->setPlaying(busName, gotValue(reply).toString() == QLatin1String("Playing"));
}

void MediaPlayingTrigger::playerPropertiesChanged(const QDBusMessage &message)
{
    if (!m_watching)
        return;
    const QVariantMap changed = qdbus_cast<QVariantMap>(message.arguments().value(1));
    const QStringList invalidated = message.arguments().value(2).toStringList();
    const auto status = changed.constFind(playbackStatus);
    for (auto player = m_known.begin(); player != m_known.end(); ++player) {
        if (player->owner != message.service())
            continue;
        if (status != changed.cend()) {
            player->statusHeard = true;
            setPlaying(player.key(), unwrapped(*status).toString() == QLatin1String("Playing"));
        } else if (invalidated.contains(playbackStatus)) {
            readStatus(player.key(), player->serial, m_generation);
        }
    }
}

void MediaPlayingTrigger::setPlaying(const QString &busName, bool playing)
{
    m_known[busName].playing = playing;
    decide();
}

void MediaPlayingTrigger::graceEnded()
{
    m_shown.clear();
    setActive(false);
}

void MediaPlayingTrigger::decide(const QString &departed)
{
    // The player named keeps the subject while it plays, so that a second
    // one starting does not change it.
    auto chosen = m_known.constFind(m_shown);
    if (chosen == m_known.cend() || !chosen->playing)
        chosen = std::find_if(m_known.cbegin(), m_known.cend(), [](const Player &player) { return player.playing; });
    if (chosen != m_known.cend()) {
        m_graceTimer.stop();
        m_shown = chosen.key();
        setActive(true, chosen->identity.isEmpty() ? fallbackIdentity(chosen.key()) : chosen->identity);
        return;
    }
    if (!isActive())
        return;
    if (!departed.isEmpty() && departed == m_shown) {
        // Gone from the bus, it will not resume: no grace.
        m_graceTimer.stop();
        graceEnded();
    } else if (!m_graceTimer.isActive()) {
        m_graceTimer.start();
    }
}
