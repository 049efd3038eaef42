#include "AgentHarness.h"
#include "StartOrSkip.h"
#include "TriggerOptions.h"

#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

// The triggers' rules end to end: the real agent and wakora command on
// private buses, for every trigger this agent offers, and the clear refusal
// of one it does not.
class TestTriggerRules : public QObject
{
    Q_OBJECT

    std::unique_ptr<AgentHarness> harness;
    QString error;

    QJsonObject status()
    {
        QByteArray output;
        if (harness->wakora({ u"status"_s, u"--json"_s }, &output) != 0)
            return {};
        return QJsonDocument::fromJson(output).object();
    }

    QJsonObject triggerOf(const QString &name)
    {
        for (const QJsonValue &trigger : status().value(u"triggers").toArray()) {
            if (trigger.toObject().value(u"name").toString() == name)
                return trigger.toObject();
        }
        return {};
    }

    QStringList offered()
    {
        QStringList names;
        for (const QJsonValue &trigger : status().value(u"triggers").toArray())
            names.append(trigger.toObject().value(u"name").toString());
        return names;
    }

    // The command that switches the trigger on, with options where it takes them.
    static QStringList onArguments(const QString &name)
    {
        if (name == u"schedule")
            return { u"rule"_s, name, u"mon-fri 09:00-18:00"_s, u"--no-display"_s };
        if (name == u"busy")
            return { u"rule"_s, name, u"on"_s, u"--net"_s, u"200k"_s, u"--cpu=70"_s, u"--settle"_s, u"3m"_s,
                u"--no-display"_s };
        return { u"rule"_s, name, u"on"_s, u"--no-display"_s };
    }

    QDBusMessage callSessions(const QString &method, const QVariantList &arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(MenuBarService::machServiceName(),
            MenuBarService::objectPath(), MenuBarService::sessionsInterfaceName(), method);
        call.setArguments(arguments);
        return harness->session().call(call, QDBus::Block, 10000);
    }

private Q_SLOTS:
    void init()
    {
        harness = std::make_unique<AgentHarness>();
        WAKORA_START_OR_SKIP(harness->start());
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            harness->printLogs();
        harness.reset();
    }

    // Each trigger offered is off at first; its rule, set from the command
    // line, reads back in `wakora rule` and --json, outlives the agent, and
    // goes off again.
    void everyOfferedTriggerTakesItsRule()
    {
        const QStringList names = offered();
        qInfo() << "Triggers offered:" << names;
        QVERIFY(!status().isEmpty());
        QVERIFY(status().value(u"triggers").isArray());
        for (const QString &name : names) {
            QVERIFY2(TriggerOptions::names().contains(name), qPrintable(name));
            QVERIFY(!triggerOf(name).value(u"enabled").toBool());
            QByteArray output;
            QCOMPARE(harness->wakora(onArguments(name), &output), 0);
            QVERIFY2(output.contains(QStringLiteral("(%1): 켜짐").arg(name).toUtf8()), output.constData());
        }
        harness->stopAgent();
        QVERIFY2(harness->startAgent(&error), qPrintable(error));
        QByteArray listing;
        QCOMPARE(harness->wakora({ u"rule"_s }, &listing), 0);
        QVERIFY2(listing.contains("AC 전원에서만: 꺼짐"), listing.constData());
        for (const QString &name : names) {
            const QJsonObject trigger = triggerOf(name);
            QVERIFY2(trigger.value(u"enabled").toBool(), qPrintable(name));
            QCOMPARE(trigger.value(u"kinds").toArray(), QJsonArray{ u"systemSleep"_s });
            QVERIFY2(listing.contains(QStringLiteral("(%1): 켜짐").arg(name).toUtf8()), listing.constData());
            const QString unavailable = trigger.value(u"unavailable").toString();
            if (!unavailable.isEmpty())
                QVERIFY2(listing.contains(QStringLiteral("사용할 수 없음: %1").arg(unavailable).toUtf8()),
                    listing.constData());
            if (name == u"busy") {
                const QJsonObject options = trigger.value(u"options").toObject();
                QCOMPARE(options.value(u"net").toInteger(), 200000);
                QCOMPARE(options.value(u"cpu").toInteger(), 70);
                QCOMPARE(options.value(u"settle").toInteger(), 180);
                QVERIFY2(listing.contains("net 200k, cpu 70%, settle 3m"), listing.constData());
            }
            if (name == u"schedule")
                QCOMPARE(trigger.value(u"options").toObject().value(u"schedule").toString(), u"mon-fri 09:00-18:00"_s);
            QCOMPARE(harness->wakora({ u"rule"_s, name, u"off"_s }), 0);
            QVERIFY(!triggerOf(name).value(u"enabled").toBool());
        }
    }

    // A trigger this agent does not offer is refused in words, not with a crash.
    void aTriggerNotOfferedIsRefusedClearly()
    {
        const QStringList names = offered();
        for (const QString &name : TriggerOptions::names()) {
            if (names.contains(name))
                continue;
            QByteArray output;
            QCOMPARE(harness->wakora(onArguments(name), &output), 1);
            QVERIFY2(output.contains(QStringLiteral("알 수 없는 규칙: %1").arg(name).toUtf8()), output.constData());
        }
        // On the bus: the failure in the interface's convention, nothing stored.
        const QDBusMessage reply = callSessions(u"SetTrigger"_s,
            { u"bluetooth"_s, true, QVariant::fromValue(qlonglong(0)), QVariant::fromValue(QVariantMap{}) });
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(reply.arguments().value(0).toStringList(), QStringList{ u"Unknown trigger"_s });
        const QDBusMessage listed = callSessions(u"Triggers"_s, {});
        QCOMPARE(listed.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(listed.signature(), u"a(sbxa{sv}sbs)"_s);
        QVERIFY(status().value(u"agentPID").toInt() > 0); // still serving
    }

    // Wrong words stop at the command, with how to use it, before any agent is asked.
    void badTriggerArgumentsAreUsageErrors()
    {
        const QList<QPair<QStringList, QByteArray>> cases{
            { { u"rule"_s, u"busy"_s, u"on"_s, u"--net"_s, u"fast"_s }, "잘못된 전송 속도입니다: \"fast\"" },
            { { u"rule"_s, u"busy"_s, u"on"_s, u"--settle"_s, u"2d"_s }, "잘못된 시간 길이입니다: \"2d\"" },
            { { u"rule"_s, u"busy"_s, u"on"_s, u"--cpu"_s, u"120"_s }, "CPU 사용량은 1부터 100까지의 퍼센트입니다" },
            { { u"rule"_s, u"busy"_s, u"on"_s, u"--cpu"_s }, "--cpu 다음에 값이 와야 합니다." },
            { { u"rule"_s, u"media"_s, u"on"_s, u"--cpu"_s, u"50"_s }, "--cpu은(는) busy에만 쓸 수 있습니다." },
            { { u"rule"_s, u"media"_s, u"on"_s, u"--display"_s, u"--no-display"_s }, "함께 쓸 수 없습니다" },
            { { u"rule"_s, u"remote"_s, u"off"_s, u"--display"_s }, "remote off에는 옵션을 쓸 수 없습니다" },
            { { u"rule"_s, u"fullscreen"_s, u"maybe"_s }, "on 또는 off가 와야 합니다" },
            { { u"rule"_s, u"schedule"_s }, "rule schedule 다음에는 일정" },
        };
        for (const auto &[arguments, expected] : cases) {
            QByteArray output;
            QCOMPARE(harness->wakora(arguments, &output), 2);
            QVERIFY2(output.contains(expected), output.constData());
            QVERIFY2(output.contains("사용법: wakora"), output.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestTriggerRules)
#include "tst_triggerrules.moc"
