#pragma once

#include "Trigger.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QMap>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

class QDBusServiceWatcher;

// Active while a media player on the session bus plays: any MPRIS player
// ("org.mpris.MediaPlayer2.*") whose PlaybackStatus is "Playing". The
// subject is the player's Identity ("mpv"). A pause or stop keeps the
// trigger active for a grace time, so that a pause for a moment does not end
// the claim and a resume within it does not flicker; a player that leaves
// the bus ends its part at once.
//
// Followed through the players' arrivals and departures on the bus and their
// PropertiesChanged signals, never by asking again.
class MediaPlayingTrigger final : public Trigger
{
    Q_OBJECT

public:
    explicit MediaPlayingTrigger(QDBusConnection sessionBus, std::chrono::milliseconds grace = std::chrono::minutes(1),
        QObject *parent = nullptr);
    ~MediaPlayingTrigger() override;

    QString name() const override { return QStringLiteral("media"); }
    qint64 defaultKinds() const override; // system sleep and the display

    void start(const QVariantMap &options) override;
    void stop() override;

    // The name a player is known by when it has not told its Identity: the
    // first part after the MPRIS prefix ("vlc" for "org.mpris.MediaPlayer2.vlc.instance42").
    static QString fallbackIdentity(const QString &busName);

private Q_SLOTS:
    // PropertiesChanged of org.mpris.MediaPlayer2.Player, from any sender.
    void playerPropertiesChanged(const QDBusMessage &message);

private:
    struct Player {
        QString owner; // the unique name the player's signals come from
        QString identity;
        bool playing = false;
        bool statusHeard = false; // a signal told the status: newer than any answer still on its way
        quint64 serial = 0; // which arrival of this name the entry is for
    };

    void ownerChanged(const QString &busName, const QString &oldOwner, const QString &newOwner);
    void addPlayer(const QString &busName, const QString &owner);
    QCoro::Task<> listPlayers(quint64 generation);
    QCoro::Task<> readPlayer(QString busName, quint64 serial, quint64 generation);
    QCoro::Task<> readStatus(QString busName, quint64 serial, quint64 generation);
    bool stillFor(const QString &busName, quint64 serial, quint64 generation) const;
    void setPlaying(const QString &busName, bool playing);
    void graceEnded();
    void decide(const QString &departed = QString());

    QDBusConnection m_bus;
    std::chrono::milliseconds m_grace;
    bool m_watching = false;
    quint64 m_generation = 0; // bumped by start() and stop(): answers for an earlier watch are dropped
    quint64 m_serials = 0;
    std::unique_ptr<QDBusServiceWatcher> m_players; // follows the MPRIS names while watching
    QMap<QString, Player> m_known; // by bus name, in name order
    QString m_shown; // the bus name whose player the subject names
    QTimer m_graceTimer;
};
