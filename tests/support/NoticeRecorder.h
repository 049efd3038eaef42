#pragma once

// Counts the agent's StateDidChange calls on one connection, as they arrive.

#include "MenuBarService.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <atomic>

class NoticeRecorder : public QDBusVirtualObject
{
public:
    explicit NoticeRecorder(QDBusConnection bus)
        : m_bus(bus)
    {
        m_bus.registerVirtualObject(MenuBarService::clientObjectPath(), this);
    }
    ~NoticeRecorder() override { m_bus.unregisterObject(MenuBarService::clientObjectPath()); }

    QString introspect(const QString &) const override { return QString(); }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        if (message.member() != u"StateDidChange")
            return false;
        ++count;
        return true;
    }

    std::atomic<int> count = 0;

private:
    QDBusConnection m_bus;
};
