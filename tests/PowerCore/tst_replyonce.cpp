#include "ReplyOnce.h"

#include <QCoroTask>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

// One request, several competing completions: exactly one reaches the caller,
// and the caller always continues on its own thread.
class TestReplyOnce : public QObject
{
    Q_OBJECT

    template <typename T>
    static QCoro::Task<typename ReplyOnce<T>::Result> await(std::shared_ptr<ReplyOnce<T>> once, QThread **resumedOn)
    {
        auto result = co_await once->result();
        *resumedOn = QThread::currentThread();
        co_return result;
    }

private Q_SLOTS:
    void firstResultWins()
    {
        auto once = std::make_shared<ReplyOnce<qint64>>();
        QVERIFY(!once->isDone());
        QVERIFY(once->resume(7));
        QVERIFY(!once->resume(Unexpected(QStringLiteral("late error"))));
        QVERIFY(once->isDone());
        QThread *resumedOn = nullptr;
        const auto result = QCoro::waitFor(await(once, &resumedOn));
        QVERIFY(result);
        QCOMPARE(result.value(), 7);
    }

    void timerBeforeReplyFailsTheRequest()
    {
        auto once = std::make_shared<ReplyOnce<qint64>>();
        QTimer::singleShot(10, [once] { once->resume(Unexpected(QStringLiteral("timed out"))); });
        QTimer::singleShot(50, [once] { QVERIFY(!once->resume(1)); });
        QThread *resumedOn = nullptr;
        const auto result = QCoro::waitFor(await(once, &resumedOn));
        QVERIFY(!result);
        QCOMPARE(result.error(), QStringLiteral("timed out"));
        QTRY_VERIFY(once.use_count() == 1); // the late reply has run and been ignored
    }

    void threeThreadsDeliverExactlyOnce()
    {
        for (int round = 0; round < 200; ++round) {
            auto once = std::make_shared<ReplyOnce<qint64>>();
            std::atomic<int> winners = 0;
            std::atomic<bool> go = false;
            std::vector<std::thread> sources;
            for (qint64 value = 1; value <= 3; ++value) {
                sources.emplace_back([&, value] {
                    while (!go.load())
                        std::this_thread::yield();
                    if (once->resume(value))
                        ++winners;
                });
            }
            QThread *resumedOn = nullptr;
            auto waiting = await(once, &resumedOn); // suspended before the sources start
            go = true;
            for (auto &source : sources)
                source.join();
            const auto result = QCoro::waitFor(waiting);
            QCOMPARE(winners.load(), 1);
            QVERIFY(result);
            QVERIFY(result.value() >= 1 && result.value() <= 3);
            QCOMPARE(resumedOn, QThread::currentThread());
        }
    }

    void voidRequestsComplete()
    {
        auto once = std::make_shared<ReplyOnce<void>>();
        std::thread([once] { once->resume({}); }).join();
        QThread *resumedOn = nullptr;
        QVERIFY(QCoro::waitFor(await(once, &resumedOn)));
    }
};

QTEST_GUILESS_MAIN(TestReplyOnce)
#include "tst_replyonce.moc"
