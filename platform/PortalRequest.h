#pragma once

#include <QDBusConnection>
#include <QObject>

#include <optional>

// A request object of the desktop portal, followed from before the call that
// creates it: its Response signal (0 success, 1 cancelled, 2 other failure)
// is kept, so an answer that comes before anyone waits is not lost.
class PortalRequest : public QObject
{
    Q_OBJECT

public:
    // Follows the path the portal gives a request made with `token` by this
    // connection.
    PortalRequest(QDBusConnection bus, const QString &token);
    ~PortalRequest() override;

    // The path the portal will use; follows `path` instead when the portal
    // answered another (portals older than handle tokens).
    QString path() const { return m_path; }
    void follow(const QString &path);

    std::optional<uint> response() const { return m_response; }

    // /org/freedesktop/portal/desktop/request/SENDER/TOKEN, SENDER being our
    // unique name without its colon and with its dots as underscores.
    static QString pathFor(const QString &uniqueName, const QString &token);

Q_SIGNALS:
    void answered(uint response);

private Q_SLOTS:
    void responded(uint response, const QVariantMap &results);

private:
    bool subscribe();
    void unsubscribe();

    QDBusConnection m_bus;
    QString m_path;
    std::optional<uint> m_response;
};
