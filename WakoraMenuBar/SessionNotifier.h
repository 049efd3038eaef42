#pragma once

#include <QCoroTask>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <optional>

class TimedSessionController;

// Tells the user, through the desktop's notification server
// (org.freedesktop.Notifications), that a timed session has ended, with an
// action "1시간 연장" that starts it again for an hour where the server
// offers actions. Without a server nothing is shown, and nothing fails.
// Main thread only.
class SessionNotifier : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 extensionSeconds = 3600;

    SessionNotifier(TimedSessionController *sessions, QDBusConnection bus, QObject *parent = nullptr);

    // Shows the notice for a session of these kinds whose time ran out;
    // answers whether a server took it.
    QCoro::Task<bool> notifyEnded(qint64 kinds);
    // Shows the notice for kinds a rule turned off; no extension is offered,
    // as the rule would end it again at once.
    QCoro::Task<bool> notifyRuleBroken(QString reason);
    // Shows the notice that a guard gave the lid-closed mode back, and why.
    QCoro::Task<bool> notifyLidGivenBack(QString reason);
    // Warns that the machine is put to sleep after the grace, with an
    // action "취소" (suspendCancelled); withdrawSuspending() takes it down.
    QCoro::Task<bool> notifySuspending(std::chrono::milliseconds grace);
    void withdrawSuspending();
    // Says why the machine could not be put to sleep.
    QCoro::Task<bool> notifySuspendFailed(QString cause);

Q_SIGNALS:
    // The user chose "취소" on the warning.
    void suspendCancelled();

private Q_SLOTS:
    void actionInvoked(const QDBusMessage &message);
    void notificationClosed(const QDBusMessage &message);

private:
    // extendKinds: the kinds the action turns back on; none offers no action.
    QCoro::Task<bool> show(QString summary, QString body, qint64 extendKinds, bool offersCancel = false);

    QPointer<TimedSessionController> m_sessions;
    QDBusConnection m_bus;
    // Our notices still on screen: their ids, with the kinds an extension turns on.
    QHash<quint32, qint64> m_shown;
    // The server that showed them; only it may report an action.
    QString m_server;
    // The warning before a suspend, while it is on screen.
    std::optional<quint32> m_suspending;
    // Withdrawn before the server said which notice it showed.
    bool m_suspendingWithdrawn = false;
};
