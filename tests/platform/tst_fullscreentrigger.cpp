#include "FullscreenTrigger.h"

#include <QSignalSpy>
#include <QTest>

// Where the fullscreen trigger can work, decided by the session's
// environment; the X11 case itself runs against a real window manager in
// the integration tests.
class TestFullscreenTrigger : public QObject
{
    Q_OBJECT

    static QProcessEnvironment environment(const QList<std::pair<QString, QString>> &variables)
    {
        QProcessEnvironment environment;
        for (const auto &[name, value] : variables)
            environment.insert(name, value);
        return environment;
    }

private Q_SLOTS:
    void availableWhereTheWindowManagerTells_data()
    {
        QTest::addColumn<QProcessEnvironment>("session");
        QTest::addColumn<QString>("why");
        const QString wayland = QStringLiteral("Wayland에서는 이 데스크톱이 전체 화면 창을 알려 주지 않습니다");
        const QString display = QStringLiteral("DISPLAY");
        QTest::newRow("X11") << environment(
            { { display, QStringLiteral(":0") }, { QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11") } })
                             << QString();
        // XWayland's DISPLAY sees only X clients.
        QTest::newRow("Wayland with XWayland") << environment(
            { { display, QStringLiteral(":0") }, { QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0") } })
                                               << wayland;
        QTest::newRow("Wayland session") << environment(
            { { display, QStringLiteral(":1") }, { QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland") } })
                                         << wayland;
        QTest::newRow("no display") << environment({ { QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("tty") } })
                                    << QStringLiteral("화면이 없어 전체 화면 창을 알 수 없습니다");
    }

    void availableWhereTheWindowManagerTells()
    {
        QFETCH(QProcessEnvironment, session);
        QFETCH(QString, why);
        FullscreenTrigger trigger(QDBusConnection(QStringLiteral("no bus")), session);
        QCOMPARE(trigger.name(), QStringLiteral("fullscreen"));
        QCOMPARE(trigger.defaultKinds(), 3);
        QCOMPARE(trigger.unavailable().value_or(QString()), why);
        if (!why.isEmpty()) {
            // Nothing to watch: starting it opens nothing.
            trigger.start({});
            QVERIFY(!trigger.isWatching());
            QVERIFY(!trigger.isActive());
        }
    }

    void anUnreachableServerSaysSo()
    {
        // A display number no server listens on, by a socket path that cannot exist.
        FullscreenTrigger trigger(QDBusConnection(QStringLiteral("no bus")),
            environment({ { QStringLiteral("DISPLAY"), QStringLiteral("unix:65001") } }));
        QCOMPARE(trigger.unavailable(), std::nullopt);
        trigger.start({});
        QVERIFY(!trigger.isWatching());
        QCOMPARE(trigger.unavailable(), QStringLiteral("X 서버에 연결할 수 없어 전체 화면 창을 알 수 없습니다"));
        trigger.stop();
    }
};

QTEST_GUILESS_MAIN(TestFullscreenTrigger)
#include "tst_fullscreentrigger.moc"
