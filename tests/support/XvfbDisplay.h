#pragma once

// An X server of the test's own (Xvfb), for programs that must run on a real
// display platform: the tray icon and the accessibility bridge exist only
// there, not on the offscreen platform.
//
//     XvfbDisplay display;
//     if (const QString why = display.start(); !why.isEmpty()) ...
//     environment.insert("DISPLAY", display.name());

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

class XvfbDisplay
{
public:
    XvfbDisplay() = default;
    XvfbDisplay(const XvfbDisplay &) = delete;
    XvfbDisplay &operator=(const XvfbDisplay &) = delete;
    ~XvfbDisplay() { stop(); }

    // Empty on success, else why there is no display.
    QString start()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            return QStringLiteral("not installed: Xvfb (Debian: xvfb)");
        // -displayfd picks a free display number and prints it once the
        // server accepts connections.
        m_server.start(QStringLiteral("Xvfb"),
            { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("1280x900x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp") });
        if (!m_server.waitForStarted(5000))
            return QStringLiteral("Xvfb did not start: %1").arg(m_server.errorString());
        QByteArray printed;
        const QDeadlineTimer deadline(15000);
        while (!printed.contains('\n') && !deadline.hasExpired() && m_server.state() == QProcess::Running) {
            m_server.waitForReadyRead(100);
            printed += m_server.readAllStandardOutput();
        }
        if (!printed.contains('\n'))
            return QStringLiteral("Xvfb printed no display number: %1")
                .arg(QString::fromLocal8Bit(m_server.readAllStandardError()));
        m_name = QLatin1Char(':') + QString::fromLatin1(printed.trimmed());
        return QString();
    }

    void stop()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(3000);
        }
    }

    QString name() const { return m_name; }

private:
    QProcess m_server;
    QString m_name;
};
