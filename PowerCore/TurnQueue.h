#pragma once

#include <QCoreApplication>
#include <QMetaObject>

#include <coroutine>
#include <deque>
#include <memory>

// Lets awaited work take turns: one holder of a Turn at a time, the others
// resumed in the order they asked, each through the event loop (never from
// inside the previous holder's frame). Main thread only.
//
// Work still waiting when the queue goes away is never resumed; its owner
// lives as long as the program does.
class TurnQueue
{
    struct State {
        bool busy = false;
        std::deque<std::coroutine_handle<>> waiting;
    };

public:
    // Held for the length of one piece of work; passing it on when destroyed.
    class Turn
    {
    public:
        explicit Turn(std::shared_ptr<State> state)
            : m_state(std::move(state))
        { }
        Turn(Turn &&other) noexcept = default;
        Turn &operator=(Turn &&) = delete;
        Turn(const Turn &) = delete;
        ~Turn()
        {
            if (!m_state)
                return;
            if (m_state->waiting.empty()) {
                m_state->busy = false;
                return;
            }
            const std::coroutine_handle<> next = m_state->waiting.front();
            m_state->waiting.pop_front();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [next] { next.resume(); }, Qt::QueuedConnection);
        }

    private:
        std::shared_ptr<State> m_state;
    };

    class Awaiter
    {
    public:
        explicit Awaiter(std::shared_ptr<State> state)
            : m_state(std::move(state))
        { }
        bool await_ready()
        {
            if (m_state->busy)
                return false;
            m_state->busy = true;
            return true;
        }
        void await_suspend(std::coroutine_handle<> waiter) { m_state->waiting.push_back(waiter); }
        Turn await_resume() { return Turn(m_state); }

    private:
        std::shared_ptr<State> m_state;
    };

    Awaiter next() { return Awaiter(m_state); }
    bool isBusy() const { return m_state->busy; }

private:
    std::shared_ptr<State> m_state = std::make_shared<State>();
};
