#pragma once

#include "Expected.h"

#include <QAbstractEventDispatcher>
#include <QPointer>
#include <QString>
#include <QThread>

#include <coroutine>
#include <mutex>
#include <optional>

// Completes one waiting request exactly once, whichever of its sources (the
// reply, a connection error, a timer) comes first; later results are dropped.
// resume() may be called from any thread; the awaiting coroutine always
// continues on the thread it awaited from, through that thread's event loop.
//
//     auto once = std::make_shared<ReplyOnce<qint64>>();
//     ... hand `once` to the reply handler, the error handler and a timer ...
//     const auto result = co_await once->result();
template <typename T> class ReplyOnce
{
public:
    using Result = Expected<T, QString>;

    ReplyOnce() = default;
    ReplyOnce(const ReplyOnce &) = delete;
    ReplyOnce &operator=(const ReplyOnce &) = delete;

    // Delivers the result unless one was delivered before; answers whether
    // this call was the one that completed the request.
    bool resume(Result result)
    {
        std::coroutine_handle<> waiter;
        QPointer<QAbstractEventDispatcher> dispatcher;
        {
            std::lock_guard locker(m_lock);
            if (m_result)
                return false;
            m_result.emplace(std::move(result));
            waiter = std::exchange(m_waiter, {});
            dispatcher = m_dispatcher;
        }
        if (waiter)
            schedule(waiter, dispatcher);
        return true;
    }

    bool isDone() const
    {
        std::lock_guard locker(m_lock);
        return m_result.has_value();
    }

    class Awaiter
    {
    public:
        explicit Awaiter(ReplyOnce &once)
            : m_once(once)
        { }
        bool await_ready() const { return m_once.isDone(); }
        bool await_suspend(std::coroutine_handle<> waiter) { return m_once.suspend(waiter); }
        Result await_resume() const { return m_once.delivered(); }

    private:
        ReplyOnce &m_once;
    };

    // Waits for the first result. One caller awaits a ReplyOnce.
    Awaiter result() { return Awaiter(*this); }

private:
    bool suspend(std::coroutine_handle<> waiter)
    {
        std::lock_guard locker(m_lock);
        if (m_result)
            return false; // completed between the readiness check and here
        m_waiter = waiter;
        m_dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread());
        return true;
    }

    Result delivered() const
    {
        std::lock_guard locker(m_lock);
        return *m_result;
    }

    static void schedule(std::coroutine_handle<> waiter, QAbstractEventDispatcher *dispatcher)
    {
        // The event dispatcher is a QObject living in the awaiting thread, so a
        // queued call through it resumes the caller there, never inside the
        // reply's or the timer's call stack.
        if (dispatcher)
            QMetaObject::invokeMethod(
                dispatcher, [waiter] { waiter.resume(); }, Qt::QueuedConnection);
        else
            waiter.resume();
    }

    mutable std::mutex m_lock;
    std::optional<Result> m_result;
    std::coroutine_handle<> m_waiter;
    QPointer<QAbstractEventDispatcher> m_dispatcher;
};
