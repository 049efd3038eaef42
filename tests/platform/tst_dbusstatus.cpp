#include "DBusStatus.h"

#include <QTest>

#include <cerrno>

class TestDBusStatus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void table_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("status");
        QTest::newRow("denied") << QStringLiteral("org.freedesktop.DBus.Error.AccessDenied") << -EACCES;
        QTest::newRow("unknown service") << QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") << -ENOENT;
        QTest::newRow("no reply") << QStringLiteral("org.freedesktop.DBus.Error.NoReply") << -ETIMEDOUT;
        QTest::newRow("timeout") << QStringLiteral("org.freedesktop.DBus.Error.Timeout") << -ETIMEDOUT;
        QTest::newRow("other") << QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod") << -EIO;
        QTest::newRow("foreign") << QStringLiteral("org.freedesktop.login1.OperationInProgress") << -EIO;
        QTest::newRow("empty") << QString() << -EIO;
    }

    void table()
    {
        QFETCH(QString, name);
        QTEST(statusForDBusError(name), "status");
    }

    void fromAnError()
    {
        QCOMPARE(statusForDBusError(QDBusError(QDBusError::AccessDenied, QStringLiteral("no"))), -EACCES);
        QCOMPARE(statusForDBusError(QDBusError(QDBusError::ServiceUnknown, QStringLiteral("gone"))), -ENOENT);
    }
};

QTEST_GUILESS_MAIN(TestDBusStatus)
#include "tst_dbusstatus.moc"
