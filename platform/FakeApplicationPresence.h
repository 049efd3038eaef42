#pragma once

#include "ApplicationPresence.h"

#include <QSet>

// Presence that tests set by hand.
class FakeApplicationPresence : public ApplicationPresence
{
    Q_OBJECT

public:
    using ApplicationPresence::ApplicationPresence;

    void watch(const QString &desktopEntryId) override;
    QString watched() const override { return m_watched; }
    bool isRunning() const override { return !m_watched.isEmpty() && m_running.contains(m_watched); }
    QString method() const override { return m_watched.isEmpty() ? QStringLiteral("none") : QStringLiteral("scopes"); }

    // The application of an entry starts or ends; announced when it is the one watched.
    void setRunning(const QString &desktopEntryId, bool running);

private:
    QString m_watched;
    QSet<QString> m_running;
};
