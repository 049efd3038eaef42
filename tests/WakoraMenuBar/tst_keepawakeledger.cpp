#include "ApplicationSessionWatcher.h"
#include "FakeApplicationPresence.h"
#include "FakePowerControl.h"
#include "FakeRunningApplications.h"
#include "PowerController.h"
#include "SessionRuleKeeper.h"
#include "TimedSessionController.h"

#include <QCoroTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace {

// The in-memory backend, answering each call only after a few milliseconds,
// as a real service does: changes asked for meanwhile overlap.
class SlowPowerControl : public PowerControlling
{
public:
    explicit SlowPowerControl(std::shared_ptr<FakePowerControl> inner)
        : m_inner(std::move(inner))
    { }

    QCoro::Task<Expected<quint32, PowerError>> createAssertion(AssertionKind kind) override
    {
        co_await QCoro::sleepFor(std::chrono::milliseconds(5));
        co_return m_inner->create(kind);
    }
    QCoro::Task<Expected<void, PowerError>> releaseAssertion(quint32 id) override
    {
        co_await QCoro::sleepFor(std::chrono::milliseconds(5));
        co_return m_inner->release(id);
    }

    // Ends an assertion as a service going away would.
    void lose(quint32 id)
    {
        m_inner->release(id);
        reportLost(id);
    }

private:
    std::shared_ptr<FakePowerControl> m_inner;
};

struct Step {
    QString action;
    QString held; // "S" system sleep, "D" display, "SD" both, "-" none
    QString claims; // "owner:kinds" in the ledger's order, space-separated; "-" for none
    bool vetoed = false;
};

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

// Every source of keep-awake together over one ledger: the user's switch,
// timed sessions on a clock the test moves, the application rule on
// presence the test sets, and the power-source conditions; held kinds, claims
// and the veto checked after each step.
class TestKeepAwakeLedger : public QObject
{
    Q_OBJECT

    QTemporaryDir config;
    QDateTime clock;
    std::chrono::milliseconds sinceBoot{ 0 };
    std::shared_ptr<FakePowerControl> control;
    std::shared_ptr<SlowPowerControl> slowControl; // in front of it, when the backend is slow
    std::shared_ptr<FakeRunningApplications> applications;
    std::shared_ptr<FakeApplicationPresence> presence;
    std::unique_ptr<PowerController> power;
    std::unique_ptr<KeepAwakeLedger> ledger;
    std::unique_ptr<RuleStore> store;
    std::unique_ptr<SessionRuleKeeper> conditions;
    std::unique_ptr<TimedSessionController> sessions;
    std::unique_ptr<ApplicationSessionWatcher> watcher;
    QStringList failures; // of requests that were answered with a failure

    const DesktopApplication vim{ QStringLiteral("vim"), QStringLiteral("Vim"), QString() };

    void build(bool slow)
    {
        control = std::make_shared<FakePowerControl>();
        slowControl = slow ? std::make_shared<SlowPowerControl>(control) : nullptr;
        power = slow ? std::make_unique<PowerController>(slowControl) : std::make_unique<PowerController>(control);
        ledger = std::make_unique<KeepAwakeLedger>(power.get());
        store = std::make_unique<RuleStore>();
        conditions = std::make_unique<SessionRuleKeeper>(ledger.get(), store.get());
        sessions = std::make_unique<TimedSessionController>(
            ledger.get(), [this] { return clock; }, [this] { return sinceBoot; });
        watcher = std::make_unique<ApplicationSessionWatcher>(ledger.get(), store.get(), applications, presence);
    }

    QString held() const
    {
        QString text;
        if (power->isAskedFor(AssertionKind::systemSleep))
            text += QLatin1Char('S');
        if (power->isAskedFor(AssertionKind::displaySleep))
            text += QLatin1Char('D');
        return text.isEmpty() ? QStringLiteral("-") : text;
    }

    static QString kindsText(qint64 kinds)
    {
        QString text;
        if (kinds & assertionBit(AssertionKind::systemSleep))
            text += QLatin1Char('S');
        if (kinds & assertionBit(AssertionKind::displaySleep))
            text += QLatin1Char('D');
        return text;
    }

    QString claims() const
    {
        QStringList parts;
        for (const Claim &claim : ledger->claims())
            parts.append(claim.owner + QLatin1Char(':') + kindsText(claim.kinds));
        return parts.isEmpty() ? QStringLiteral("-") : parts.join(QLatin1Char(' '));
    }

    template <typename T> void note(QCoro::Task<std::optional<T>> task)
    {
        [](TestKeepAwakeLedger *self, QCoro::Task<std::optional<T>> task) -> QCoro::Task<> {
            if (const auto failure = co_await std::move(task))
                self->failures.append(*failure);
        }(this, std::move(task));
    }

    // Starts one step; it runs on by itself where it awaits the backend.
    void start(const QString &action)
    {
        const QStringList words = action.split(QLatin1Char(' '));
        const QString verb = words.first();
        const QString argument = words.value(1);
        if (verb == u"on" || verb == u"off") {
            const AssertionKind kind
                = argument == u"display" ? AssertionKind::displaySleep : AssertionKind::systemSleep;
            note(ledger->setSwitch(kind, verb == u"on"));
        } else if (verb == u"timer") {
            note(sessions->startFor(words.value(2) == u"both" ? 3 : 1, argument.toLongLong()));
        } else if (verb == u"wait") {
            clock = clock.addSecs(argument.toLongLong());
            sinceBoot += std::chrono::seconds(argument.toLongLong());
            sessions->checkEnd();
        } else if (verb == u"cancel") {
            sessions->cancel();
        } else if (verb == u"launch" || verb == u"quit") {
            presence->setRunning(vim.id, verb == u"launch");
        } else if (verb == u"unplug") {
            conditions->setSource({ true, argument.isEmpty() ? std::optional<double>(80) : argument.toDouble() });
        } else if (verb == u"plug") {
            conditions->setSource({ false, 100 });
        } else if (verb == u"lose") {
            // The first assertion made.
            if (slowControl)
                slowControl->lose(1);
            else
                control->lose(1);
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step %1").arg(action)));
        }
    }

    void settle() { QTRY_VERIFY2(ledger->isSettled() && !power->isBusy(), qPrintable(claims())); }

    void rules(const QStringList &setup)
    {
        for (const QString &rule : setup) {
            if (rule == u"vim") {
                QCOMPARE(QCoro::waitFor(watcher->setRule(vim.id, 1)), std::nullopt);
            } else if (rule == u"vim both") {
                QCOMPARE(QCoro::waitFor(watcher->setRule(vim.id, 3)), std::nullopt);
            } else if (rule == u"ac") {
                QCOMPARE(QCoro::waitFor(conditions->setRules(SessionRules{ true, 0 })), std::nullopt);
            } else if (rule.startsWith(u"floor ")) {
                QCOMPARE(
                    QCoro::waitFor(conditions->setRules(SessionRules{ false, rule.mid(6).toInt() })), std::nullopt);
            }
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<QList<Step>>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    }

    void init()
    {
        QSettings(QStringLiteral("quorvel"), QStringLiteral("WakoraMenuBar")).clear();
        clock = QDateTime(QDate(2026, 6, 10), QTime(12, 0), QTimeZone::utc());
        sinceBoot = std::chrono::milliseconds(0);
        failures.clear();
        applications = std::make_shared<FakeRunningApplications>();
        applications->insertEntry(vim);
        presence = std::make_shared<FakeApplicationPresence>();
    }

    void cleanup()
    {
        watcher.reset();
        sessions.reset();
        conditions.reset();
        store.reset();
        ledger.reset();
        power.reset();
    }

    void orderings_data()
    {
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QList<Step>>("steps");

        QTest::newRow("a timer's end leaves an application's claim")
            << QStringList{ u"vim"_s }
            << QList<Step>{ { u"timer 60"_s, u"S"_s, u"timer:S"_s },
                   { u"launch"_s, u"S"_s, u"timer:S application:S"_s }, { u"wait 60"_s, u"S"_s, u"application:S"_s },
                   { u"quit"_s, u"-"_s, u"-"_s } };
        QTest::newRow("an application's end leaves a timer's claim")
            << QStringList{ u"vim"_s }
            << QList<Step>{ { u"launch"_s, u"S"_s, u"application:S"_s },
                   { u"timer 60"_s, u"S"_s, u"application:S timer:S"_s }, { u"quit"_s, u"S"_s, u"timer:S"_s },
                   { u"wait 60"_s, u"-"_s, u"-"_s } };
        QTest::newRow("unplugged and plugged back, the application's claim returns")
            << QStringList{ u"ac"_s, u"vim"_s }
            << QList<Step>{ { u"launch"_s, u"S"_s, u"application:S"_s },
                   { u"unplug"_s, u"-"_s, u"application:S"_s, true }, { u"plug"_s, u"S"_s, u"application:S"_s },
                   { u"quit"_s, u"-"_s, u"-"_s } };
        QTest::newRow("an application started while unplugged is held once plugged in")
            << QStringList{ u"ac"_s, u"vim"_s }
            << QList<Step>{ { u"unplug"_s, u"-"_s, u"-"_s, true }, { u"launch"_s, u"-"_s, u"application:S"_s, true },
                   { u"plug"_s, u"S"_s, u"application:S"_s } };
        QTest::newRow("below the battery floor nothing is held, and everything returns above it")
            << QStringList{ u"floor 20"_s }
            << QList<Step>{ { u"on"_s, u"S"_s, u"switch:S"_s },
                   { u"timer 600 both"_s, u"SD"_s, u"switch:S timer:SD"_s },
                   { u"unplug 50"_s, u"SD"_s, u"switch:S timer:SD"_s },
                   { u"unplug 15"_s, u"-"_s, u"switch:S timer:SD"_s, true },
                   { u"unplug 25"_s, u"SD"_s, u"switch:S timer:SD"_s } };
        QTest::newRow("a timer that ends under a veto is gone when it lifts")
            << QStringList{ u"ac"_s }
            << QList<Step>{ { u"timer 60"_s, u"S"_s, u"timer:S"_s }, { u"unplug"_s, u"-"_s, u"timer:S"_s, true },
                   { u"wait 60"_s, u"-"_s, u"-"_s, true }, { u"plug"_s, u"-"_s, u"-"_s } };
        QTest::newRow("switching off ends every claim; the application's returns at its next start")
            << QStringList{ u"vim"_s }
            << QList<Step>{ { u"launch"_s, u"S"_s, u"application:S"_s },
                   { u"timer 60"_s, u"S"_s, u"application:S timer:S"_s },
                   { u"on"_s, u"S"_s, u"application:S timer:S switch:S"_s }, { u"off"_s, u"-"_s, u"-"_s },
                   { u"wait 60"_s, u"-"_s, u"-"_s }, { u"quit"_s, u"-"_s, u"-"_s },
                   { u"launch"_s, u"S"_s, u"application:S"_s } };
        QTest::newRow("a switch on is not ended by a timer or an application")
            << QStringList{ u"vim"_s }
            << QList<Step>{ { u"launch"_s, u"S"_s, u"application:S"_s },
                   { u"on"_s, u"S"_s, u"application:S switch:S"_s },
                   { u"timer 30"_s, u"S"_s, u"application:S switch:S timer:S"_s },
                   { u"wait 30"_s, u"S"_s, u"application:S switch:S"_s }, { u"quit"_s, u"S"_s, u"switch:S"_s } };
        QTest::newRow("switching the display off leaves the rest of a claim")
            << QStringList{ u"vim both"_s }
            << QList<Step>{ { u"launch"_s, u"SD"_s, u"application:SD"_s },
                   { u"timer 60 both"_s, u"SD"_s, u"application:SD timer:SD"_s },
                   { u"off display"_s, u"S"_s, u"application:S timer:S"_s },
                   { u"wait 60"_s, u"S"_s, u"application:S"_s }, { u"quit"_s, u"-"_s, u"-"_s } };
        QTest::newRow("a cancelled timer withdraws only its own claim")
            << QStringList{}
            << QList<Step>{ { u"on display"_s, u"D"_s, u"switch:D"_s },
                   { u"timer 60 both"_s, u"SD"_s, u"switch:D timer:SD"_s }, { u"cancel"_s, u"D"_s, u"switch:D"_s } };
        QTest::newRow("a lost kind ends its claims rather than list them over nothing")
            << QStringList{ u"vim"_s }
            << QList<Step>{ { u"launch"_s, u"S"_s, u"application:S"_s },
                   { u"timer 60"_s, u"S"_s, u"application:S timer:S"_s }, { u"lose"_s, u"-"_s, u"-"_s },
                   { u"wait 60"_s, u"-"_s, u"-"_s } };
    }

    // Each step awaited in turn, the state checked after each.
    void orderings()
    {
        QFETCH(QStringList, setup);
        QFETCH(QList<Step>, steps);
        build(false);
        rules(setup);
        for (const Step &step : steps) {
            start(step.action);
            settle();
            const QString context = QStringLiteral("after \"%1\"").arg(step.action);
            QVERIFY2(held() == step.held, qPrintable(context + QStringLiteral(": held ") + held()));
            QVERIFY2(claims() == step.claims, qPrintable(context + QStringLiteral(": claims ") + claims()));
            QVERIFY2(ledger->veto().has_value() == step.vetoed, qPrintable(context));
            // The backend holds exactly what the controller says it holds.
            QCOMPARE(control->activeKinds().size(), held() == u"-" ? 0 : held().size());
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
    }

    void overlappingOrderings_data() { orderings_data(); }

    // The same steps, each started while the backend is still answering
    // the ones before: what is held in the end is what the last step says.
    void overlappingOrderings()
    {
        QFETCH(QStringList, setup);
        QFETCH(QList<Step>, steps);
        build(true);
        rules(setup);
        for (const Step &step : steps) {
            // Only what is held can be lost.
            if (step.action == u"lose")
                settle();
            start(step.action);
        }
        settle();
        QCOMPARE(held(), steps.last().held);
        QCOMPARE(claims().split(u' ', Qt::SkipEmptyParts).size(), steps.last().claims.split(u' ').size());
        QCOMPARE(control->activeKinds().size(), held() == u"-" ? 0 : held().size());
    }

    // While a condition is broken, a switch and a timer are refused in its
    // words rather than answered with success over nothing.
    void aVetoRefusesNewSwitchesAndTimers()
    {
        build(false);
        rules({ u"ac"_s });
        conditions->setSource({ true, 80 });
        QCOMPARE(QCoro::waitFor(ledger->setSwitch(AssertionKind::systemSleep, true)),
            QStringLiteral("전원 어댑터가 분리되어 꺼 둠"));
        QCOMPARE(QCoro::waitFor(sessions->startFor(1, 60)), QStringLiteral("전원 어댑터가 분리되어 꺼 둠"));
        QVERIFY(ledger->claims().isEmpty());
        QVERIFY(control->activeKinds().isEmpty());
        QVERIFY(!sessions->session().isRunning());
    }

    // A kind the backend refuses leaves no claim that says otherwise, and
    // a timer over both kinds takes neither.
    void aRefusedClaimLeavesNothingBehind()
    {
        build(false);
        control->failCreate(PowerError::assertionCreateFailed(5));
        QVERIFY(QCoro::waitFor(ledger->setSwitch(AssertionKind::systemSleep, true)).has_value());
        QVERIFY(ledger->claims().isEmpty());
        control->failCreate();
        QCOMPARE(QCoro::waitFor(ledger->setSwitch(AssertionKind::systemSleep, true)), std::nullopt);
        control->failCreate(PowerError::assertionCreateFailed(5));
        QVERIFY(QCoro::waitFor(sessions->startFor(3, 60)).has_value());
        QCOMPARE(claims(), QStringLiteral("switch:S"));
        QCOMPARE(held(), QStringLiteral("S"));
        QVERIFY(!sessions->session().isRunning());
    }

    // The end of a timer that fires while a new one starts never takes
    // the new one's kinds with it.
    void aTimerStartedAsTheOldOneEndsKeepsItsKinds()
    {
        build(true);
        start(u"timer 60"_s);
        settle();
        clock = clock.addSecs(60);
        sinceBoot += std::chrono::seconds(60);
        sessions->checkEnd(); // the old one's end, under way
        start(u"timer 120 both"_s); // and a new one meanwhile
        settle();
        QTRY_VERIFY(sessions->session().isRunning());
        QCOMPARE(claims(), QStringLiteral("timer:SD"));
        QCOMPARE(held(), QStringLiteral("SD"));
        QCOMPARE(sessions->session().kinds(), qint64(3));
        QVERIFY(failures.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestKeepAwakeLedger)
#include "tst_keepawakeledger.moc"
