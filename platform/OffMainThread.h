#pragma once

#include <QCoroTask>
#include <QCoroThread>
#include <QThread>

#include <memory>
#include <optional>
#include <type_traits>

// Runs short blocking work (a small file written and synced to disk) on a
// thread of its own, and resumes the caller on its own thread with the
// result: the event loop goes on meanwhile. `work` must touch nothing that
// the caller's thread changes while it runs.
template <typename Work> QCoro::Task<std::invoke_result_t<Work>> offMainThread(Work work)
{
    using Result = std::invoke_result_t<Work>;
    auto result = std::make_shared<std::optional<Result>>();
    std::unique_ptr<QThread> thread(
        QThread::create([work = std::move(work), result]() mutable { result->emplace(work()); }));
    thread->start();
    co_await qCoro(thread.get()).waitForFinished();
    co_return std::move(**result);
}
