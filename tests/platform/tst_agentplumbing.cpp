#include "AutostartLoginItem.h"
#include "DBusInterfaceDescription.h"
#include "HelperRegistration.h"
#include "PeerProcess.h"
#include "ProgramLocations.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The pieces the agent and its clients are wired from: where programs live,
// what a peer must run, the interface description, the login item and the
// helper's installation.
class TestAgentPlumbing : public QObject
{
    Q_OBJECT

    static void write(const QString &path, const QByteArray &content)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

private Q_SLOTS:
    void programsOfOnePrefix()
    {
        QCOMPARE(ProgramLocations::prefixOf(QStringLiteral("/usr/bin")), QStringLiteral("/usr"));
        QCOMPARE(ProgramLocations::prefixOf(QStringLiteral("/opt/w/libexec/wakora")), QStringLiteral("/opt/w"));
        QCOMPARE(ProgramLocations::prefixOf(QStringLiteral("/home/u/build/libexec/wakora/")),
            QStringLiteral("/home/u/build"));
        const ProgramLocations usr(QStringLiteral("/usr/"));
        QCOMPARE(usr.mainApplication(), QStringLiteral("/usr/bin/Wakora"));
        QCOMPARE(usr.commandLine(), QStringLiteral("/usr/bin/wakora"));
        QCOMPARE(usr.agent(), QStringLiteral("/usr/libexec/wakora/WakoraMenuBar"));
        QCOMPARE(usr.helper(), QStringLiteral("/usr/libexec/wakora/wakora_helper"));
        QCOMPARE(usr.pmset(), QStringLiteral("/usr/libexec/wakora/wakora-pmset"));
    }

    void peersAreMatchedByTheirExactProgram()
    {
        PeerProcess peer;
        peer.executable = QStringLiteral("/usr/bin/Wakora");
        QVERIFY(peer.runs({ QStringLiteral("/usr/bin/wakora"), QStringLiteral("/usr/bin//Wakora") }));
        QVERIFY(!peer.runs({ QStringLiteral("/usr/bin/wakora") }));
        QVERIFY(!peer.runs({}));
        peer.executable = QStringLiteral("/usr/bin/Wakora-evil");
        QVERIFY(!peer.runs({ QStringLiteral("/usr/bin/Wakora") }));
        peer.executable = QStringLiteral("/tmp/../usr/bin/Wakora");
        QVERIFY(peer.runs({ QStringLiteral("/usr/bin/Wakora") }));
    }

    void interfaceDescriptions()
    {
        const QString xml = QString::fromUtf8(R"xml(<node>
  <interface name="org.example.Other"><method name="State"><arg type="s" direction="out"/></method></interface>
  <interface name="org.example.Agent">
    <method name="State">
      <arg name="a" type="x" direction="out"/><arg name="b" type="a{sv}" direction="out"/>
      <arg name="c" type="a(ss)" direction="out"/>
    </method>
    <method name="Set"><arg type="x" direction="in"/><arg type="b"/><arg type="as" direction="out"/></method>
    <method name="Ping"><annotation name="org.freedesktop.DBus.Method.NoReply" value="true"/></method>
  </interface>
</node>)xml");
        const auto parsed = DBusInterfaceDescription::parse(xml, QStringLiteral("org.example.Agent"));
        QVERIFY(parsed);
        const auto &agent = parsed.value();
        QCOMPARE(agent.method(QStringLiteral("State"))->outSignature, QStringLiteral("xa{sv}a(ss)"));
        QCOMPARE(agent.method(QStringLiteral("State"))->inSignature, QString());
        QCOMPARE(agent.method(QStringLiteral("Set"))->inSignature, QStringLiteral("xb")); // "in" is the default
        QCOMPARE(agent.method(QStringLiteral("Set"))->outSignature, QStringLiteral("as"));
        QVERIFY(agent.method(QStringLiteral("Ping"))->noReply);
        QVERIFY(!agent.method(QStringLiteral("Missing")));

        // What it hands to Introspect describes the same methods.
        const auto again = DBusInterfaceDescription::parse(
            QStringLiteral("<node>") + agent.introspection() + QStringLiteral("</node>"), agent.interfaceName());
        QVERIFY(again);
        QCOMPARE(again.value().method(QStringLiteral("State"))->outSignature, QStringLiteral("xa{sv}a(ss)"));
        QCOMPARE(again.value().method(QStringLiteral("Set"))->inSignature, QStringLiteral("xb"));
        QVERIFY(again.value().method(QStringLiteral("Ping"))->noReply);

        QVERIFY(!DBusInterfaceDescription::parse(xml, QStringLiteral("org.example.Absent")));
        QVERIFY(!DBusInterfaceDescription::parse(QStringLiteral("<node><interface"), QStringLiteral("x")));
    }

    void theShippedInterfacesMatchTheRequests()
    {
        const auto agent = DBusInterfaceDescription::parse(
            [] {
                QFile file(QStringLiteral(WAKORA_SOURCE_DIR "/PowerCore/com.quorvel.WakoraApp.MenuBar.xml"));
                return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
            }(),
            QStringLiteral("com.quorvel.WakoraApp.MenuBar"));
        QVERIFY(agent);
        const QList<std::tuple<QString, QString, QString>> expected{
            { QStringLiteral("State"), QString(), QStringLiteral("xxid") },
            { QStringLiteral("SetAssertion"), QStringLiteral("xb"), QStringLiteral("as") },
            { QStringLiteral("SetClamshell"), QStringLiteral("b"), QStringLiteral("as") },
            { QStringLiteral("UsageSummary"), QString(), QStringLiteral("aay") },
            { QStringLiteral("ClearUsageHistory"), QString(), QString() },
            { QStringLiteral("OpensAtLogin"), QString(), QStringLiteral("b") },
            { QStringLiteral("SetOpensAtLogin"), QStringLiteral("b"), QString() },
        };
        for (const auto &[name, in, out] : expected) {
            const auto *method = agent.value().method(name);
            QVERIFY2(method, qPrintable(name));
            QCOMPARE(method->inSignature, in);
            QCOMPARE(method->outSignature, out);
        }

        // The timed sessions, a second interface of the same object, named
        // apart so that a call without an interface name finds one method.
        const auto sessions = DBusInterfaceDescription::parse(
            [] {
                QFile file(QStringLiteral(WAKORA_SOURCE_DIR "/PowerCore/com.quorvel.WakoraApp.MenuBar.Sessions.xml"));
                return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
            }(),
            QStringLiteral("com.quorvel.WakoraApp.MenuBar.Sessions"));
        QVERIFY(sessions);
        const QList<std::tuple<QString, QString, QString>> timed{
            { QStringLiteral("StartTimedSession"), QStringLiteral("xx"), QStringLiteral("as") },
            { QStringLiteral("StartTimedSessionUntil"), QStringLiteral("xd"), QStringLiteral("as") },
            { QStringLiteral("CancelTimedSession"), QString(), QString() },
            { QStringLiteral("TimedSession"), QString(), QStringLiteral("xd") },
            { QStringLiteral("StartTimedSessionThen"), QStringLiteral("xxb"), QStringLiteral("as") },
            { QStringLiteral("StartTimedSessionUntilThen"), QStringLiteral("xdb"), QStringLiteral("as") },
            { QStringLiteral("TimedSessionThenSuspend"), QString(), QStringLiteral("b") },
            { QStringLiteral("Rules"), QString(), QStringLiteral("bi") },
            { QStringLiteral("SetRules"), QStringLiteral("bi"), QStringLiteral("as") },
            { QStringLiteral("WhileApplication"), QString(), QStringLiteral("sx") },
            { QStringLiteral("SetWhileApplication"), QStringLiteral("sx"), QStringLiteral("as") },
        };
        for (const auto &[name, in, out] : timed) {
            const auto *method = sessions.value().method(name);
            QVERIFY2(method, qPrintable(name));
            QVERIFY2(!agent.value().method(name), qPrintable(name));
            QCOMPARE(method->inSignature, in);
            QCOMPARE(method->outSignature, out);
        }
    }

    void loginItemIsAnAutostartEntry()
    {
        QTemporaryDir home;
        AutostartLoginItem item(QStringLiteral("/opt/my \"wakora\"/libexec/wakora/WakoraMenuBar"), home.path());
        QCOMPARE(item.entryPath(),
            home.path() + QStringLiteral("/autostart/Q4WX7KD2RM.com.quorvel.WakoraApp.MenuBar.desktop"));
        QCOMPARE(item.status(), ServiceRegistration::Status::notRegistered);
        QVERIFY(item.registerService());
        QCOMPARE(item.status(), ServiceRegistration::Status::enabled);
        QFile entry(item.entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QByteArray text = entry.readAll();
        QVERIFY2(text.contains("Exec=\"/opt/my \\\"wakora\\\"/libexec/wakora/WakoraMenuBar\"\n"), text.constData());
        // Skipped by the session once the agent is gone; not a command line, so unquoted.
        QVERIFY2(text.contains("\nTryExec=/opt/my \"wakora\"/libexec/wakora/WakoraMenuBar\n"), text.constData());
        QVERIFY(text.startsWith("[Desktop Entry]\n"));

        // Switched off in the desktop's settings.
        write(item.entryPath(), "[Desktop Entry]\nType=Application\nExec=x\nHidden = true\n");
        QCOMPARE(item.status(), ServiceRegistration::Status::notRegistered);
        write(item.entryPath(), "[Desktop Entry]\nHidden=false\n[Other]\nHidden=true\n");
        QCOMPARE(item.status(), ServiceRegistration::Status::enabled);

        // A configuration folder that cannot hold the entry says so.
        write(home.filePath(QStringLiteral("blocked")), "");
        AutostartLoginItem blocked(
            QStringLiteral("/usr/libexec/wakora/WakoraMenuBar"), home.filePath(QStringLiteral("blocked")));
        const auto refused = blocked.registerService();
        QVERIFY(!refused);
        QVERIFY(refused.error().contains(QStringLiteral("blocked")));
    }

    void helperIsFoundOnlyWhenFullyInstalled()
    {
        QTemporaryDir root;
        const QString share = root.filePath(QStringLiteral("share"));
        const QString program = root.filePath(QStringLiteral("libexec/wakora/wakora_helper"));
        HelperRegistration registration({ share }, program);
        QCOMPARE(registration.status(), ServiceRegistration::Status::notFound);
        QVERIFY(!registration.registerService()); // a user cannot install it

        write(share + QStringLiteral("/dbus-1/system-services/com.quorvel.WakoraApp.helper.service"), "");
        write(share + QStringLiteral("/dbus-1/system.d/com.quorvel.WakoraApp.helper.conf"), "");
        QCOMPARE(registration.status(), ServiceRegistration::Status::notFound); // no program yet
        write(program, "#!/bin/sh\n");
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(registration.status(), ServiceRegistration::Status::enabled);
        QVERIFY(registration.registerService());
    }
};

QTEST_GUILESS_MAIN(TestAgentPlumbing)
#include "tst_agentplumbing.moc"
