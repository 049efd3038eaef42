#include "PortalRequest.h"

#include "InhibitServices.h"

PortalRequest::PortalRequest(QDBusConnection bus, const QString &token)
    : m_bus(std::move(bus))
    , m_path(pathFor(m_bus.baseService(), token))
{
    subscribe();
}

PortalRequest::~PortalRequest()
{
    unsubscribe();
}

QString PortalRequest::pathFor(const QString &uniqueName, const QString &token)
{
    QString sender = uniqueName;
    if (sender.startsWith(u':'))
        sender.remove(0, 1);
    sender.replace(u'.', u'_');
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

void PortalRequest::follow(const QString &path)
{
    if (path == m_path || path.isEmpty())
        return;
    unsubscribe();
    m_path = path;
    subscribe();
}

bool PortalRequest::subscribe()
{
    return m_bus.connect(InhibitServices::portalService, m_path, InhibitServices::portalRequestInterface,
        InhibitServices::portalResponse, this, SLOT(responded(uint, QVariantMap)));
}

void PortalRequest::unsubscribe()
{
    m_bus.disconnect(InhibitServices::portalService, m_path, InhibitServices::portalRequestInterface,
        InhibitServices::portalResponse, this, SLOT(responded(uint, QVariantMap)));
}

void PortalRequest::responded(uint response, const QVariantMap &)
{
    if (m_response)
        return; // a request answers once
    m_response = response;
    Q_EMIT answered(response);
}
