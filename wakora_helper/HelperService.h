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

#include <deque>
#include <memory>

// The lid-closed mode on the system bus. Every request is checked (its
// arguments, then polkit and the caller's executable, concurrently with
// other requests' checks) before it is queued; only admitted requests wait
// in the queue, at most `maxQueuedPerCaller` of one caller at a time, and
// are carried out strictly one at a time, in arrival order. A restore that
// follows a client leaving the bus goes ahead of every queued request. The policy itself runs on a work
// thread of its own, because the power-management command blocks, so the
// event loop keeps watching the bus meanwhile. Main thread only.
class HelperService : public DBusRequestService
{
    Q_OBJECT

public:
    struct Options {
        QStringList admittedPrograms; // the agent of our prefix (and, in tests, the test)
        std::chrono::milliseconds authorizationTimeout{ 25'000 };
    };

    // Requests of one caller being checked or waiting; more are refused at once.
    static constexpr int maxQueuedPerCaller = 8;

    HelperService(
        QDBusConnection bus, std::shared_ptr<ClamshellPolicy> policy, Options options, QObject *parent = nullptr);
    ~HelperService() override;

    // Gives back a setting left over from an earlier run; requests that
    // arrive meanwhile wait for it. Failures are logged.
    QCoro::Task<> restoreAtStart();
    // Gives the setting back when the helper is told to end. Failures are logged.
    QCoro::Task<> restoreAtExit();
    // Exports the object, then takes the name; says why when it cannot.
    Expected<void, QString> registerOnBus();

    const HelperClients &clients() const { return m_clients; }

protected:
    void requestArrived(const QDBusMessage &message) override;

private:
    struct Job {
        QDBusMessage request; // a request, or (when empty) the leaving of `leaver`
        QString leaver;
    };

    void enqueue(Job job);
    QCoro::Task<> admitThenQueue(QDBusMessage message);
    void settled(const QString &caller);
    QCoro::Task<> drain();
    QCoro::Task<> serve(QDBusMessage message);
    QCoro::Task<> clientLeft(QString name);
    QCoro::Task<Expected<void, QString>> admit(QString sender);
    QCoro::Task<Expected<void, QString>> restore(QString why);

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
    QThread m_workThread;
    QObject *m_workContext = nullptr;
};

// The helper's log: syslog(3), every line prefixed "wakora-helper: ".
void helperLog(int priority, const QString &text);
