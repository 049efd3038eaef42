#pragma once

#include "Trigger.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QDBusServiceWatcher;

// Active while someone is logged in from another machine: a logind session
// whose Remote property is true (an SSH login). The subject names the first
// such session, "user@host" ("user" when logind knows no host), and how many
// more there are. Followed through logind's SessionNew and SessionRemoved
// signals; each session is read once, when it appears.
class RemoteLoginTrigger final : public Trigger
{
    Q_OBJECT

public:
    explicit RemoteLoginTrigger(QDBusConnection systemBus, QObject *parent = nullptr);
    ~RemoteLoginTrigger() override;

    QString name() const override { return QStringLiteral("remote"); }
    qint64 defaultKinds() const override; // system sleep only
    std::optional<QString> unavailable() const override;

    void start(const QVariantMap &options) override;
    void stop() override;

    // "alice@host", "alice", "alice@host 외 2개".
    static QString describe(const QString &user, const QString &host, qsizetype others);

private Q_SLOTS:
    void sessionNew(const QString &id, const QDBusObjectPath &path);
    void sessionRemoved(const QString &id, const QDBusObjectPath &path);

private:
    struct Session {
        QString id;
        QString path;
        bool read = false; // its properties have been read
        bool remote = false;
        QString user;
        QString host;
    };

    void logindChanged(const QString &busName, const QString &oldOwner, const QString &newOwner);
    QCoro::Task<> listSessions(quint64 generation);
    void addSession(const QString &id, const QString &path);
    QCoro::Task<> readSession(QString id, QString path, quint64 generation);
    void decide();

    QDBusConnection m_bus;
    bool m_watching = false;
    quint64 m_generation = 0; // bumped by start(), stop() and logind's restart: older answers are dropped
    std::optional<bool> m_logindFound; // what the last listing showed, while watching
    std::unique_ptr<QDBusServiceWatcher> m_logind; // follows logind's restarts while watching
    std::vector<Session> m_sessions; // in the order they appeared
};
