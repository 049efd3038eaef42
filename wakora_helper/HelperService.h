#pragma once

#include "ClamshellPolicy.h"
#include "DBusRequestService.h"
#include "HelperClients.h"
#include "PolkitAuthorization.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QFuture>
#include <QPromise>
#include <QThread>
#include <QTimer>

#include <deque>
#include <memory>

// The lid-closed mode on the system bus. Every request is checked (its
// arguments, then polkit and the caller's executable, concurrently with
// other requests' checks) before it is queued; only admitted requests wait
// in the queue, at most `maxQueuedPerCaller` of one caller at a time, and
// are carried out strictly one at a time, in arrival order. A restore that
// follows a client leaving the bus goes ahead of every queued request. A
// restore that fails keeps the marker and is tried again, with a growing
// but bounded pause, until the setting is back. The mode belongs to the
// user whose agent enabled it: another user's agent sees it as set by
// someone else and cannot change it. The policy itself runs on a work
// thread of its own, because the power-management command blocks, so the
// event loop keeps watching the bus meanwhile. Main thread only.
class HelperService : public DBusRequestService
{
    Q_OBJECT

public:
    struct Options {
        QStringList admittedPrograms; // the agent of our prefix (and, in tests, the test)
        std::chrono::milliseconds authorizationTimeout{ 25'000 };
        // With no client and nothing to give back for this long, `idle` is
        // emitted: the next request then starts the installed helper afresh.
        std::chrono::milliseconds idleExit{ 10'000 };
        // Pauses between attempts of a restore that failed: doubling from
        // the first to the last, then the last again and again.
        std::chrono::milliseconds firstRetry{ 1'000 };
        std::chrono::milliseconds longestRetry{ 30'000 };
        // Where a helper that hands over (on an upgrade) names the owner for
        // the next one; empty: no hand-over, the owner is given back instead.
        QString handoverPath;
    };

    // The text a request of another user's agent is refused with while the
    // mode is the owner's.
    static QString ownedByAnotherUser()
    {
        return QStringLiteral("The lid-closed mode was turned on by another user; only they can turn it off");
    }
    static QString stillGivingBack(const QString &why)
    {
        return QStringLiteral("The lid setting is still being given back: %1").arg(why);
    }

    // Requests of one caller being checked or waiting; more are refused at once.
    static constexpr int maxQueuedPerCaller = 8;

    HelperService(
        QDBusConnection bus, std::shared_ptr<ClamshellPolicy> policy, Options options, QObject *parent = nullptr);
    ~HelperService() override;

    // Gives back a setting left over from an earlier run, unless the helper
    // before us handed its owner over and that owner is still there;
    // requests that arrive meanwhile wait for it. Failures are logged and
    // retried.
    QCoro::Task<> restoreAtStart();
    // Gives the setting back when the helper is told to end, trying again
    // for up to `patience` (the bus may be coming back). Answers whether
    // nothing of ours is left. Failures are logged.
    QCoro::Task<bool> restoreAtExit(std::chrono::milliseconds patience = {});
    // Ends serving, and leaves the setting with its owner for the next
    // helper (an upgrade): the owner is written to `handoverPath`. Without
    // an owner, gives the setting back as restoreAtExit does.
    QCoro::Task<> handOver();
    // Refuses every request from now on (the helper is about to go).
    void stopServing();
    // Exports the object, then takes the name; says why when it cannot.
    Expected<void, QString> registerOnBus();

    const HelperClients &clients() const { return m_clients; }

Q_SIGNALS:
    // Nothing to serve and nothing to give back, for `idleExit`.
    void idle();
    // The system bus has gone (restarted, or shut down): clients can no
    // longer be heard leaving.
    void busLost();

protected:
    void requestArrived(const QDBusMessage &message) override;

private:
    struct Job {
        QDBusMessage request; // a request, or (when empty) the leaving of `leaver`, or a retry
        QString leaver;
        uid_t uid = 0; // of the request's caller
    };

    void enqueue(Job job);
    QCoro::Task<> admitThenQueue(QDBusMessage message);
    void settled(const QString &caller);
    QCoro::Task<> drain();
    QCoro::Task<> serve(QDBusMessage message, uid_t uid);
    QCoro::Task<> clientLeft(QString name);
    QCoro::Task<Expected<uid_t, QString>> admit(QString sender);
    QCoro::Task<Expected<void, QString>> restore(QString why);
    QCoro::Task<bool> adoptHandedOverOwner();
    QCoro::Task<> stopAndWait();
    void scheduleRetry();
    void checkIdle();
    bool isIdle() const;

private Q_SLOTS:
    void busDisconnected();

private:
    // Runs one policy operation on the work thread.
    template <typename Operation> auto onWorkThread(Operation operation)
    {
        using Result = decltype(operation(*m_policy));
        auto promise = std::make_shared<QPromise<Result>>();
        QFuture<Result> future = promise->future();
        promise->start();
        QMetaObject::invokeMethod(
            m_workContext,
            [promise, operation, policy = m_policy] {
                promise->addResult(operation(*policy));
                promise->finish();
            },
            Qt::QueuedConnection);
        return future;
    }

    QDBusConnection m_bus;
    std::shared_ptr<ClamshellPolicy> m_policy;
    Options m_options;
    PolkitAuthorization m_authorization;
    HelperClients m_clients;
    QDBusServiceWatcher m_watcher;
    std::deque<Job> m_jobs;
    QHash<QString, int> m_pending; // per caller: checked or queued, not yet answered
    bool m_draining = false;
    bool m_ending = false;
    bool m_restorePending = false; // a restore failed; the marker is still there
    std::chrono::milliseconds m_retryDelay;
    QTimer m_retryTimer;
    QTimer m_idleTimer;
    QThread m_workThread;
    QObject *m_workContext = nullptr;
};

// The helper's log: syslog(3), every line prefixed "wakora-helper: ".
void helperLog(int priority, const QString &text);
