#pragma once

#include "ApplicationPresence.h"

// An application that runs when a test says so.
class FakeApplicationPresence : public ApplicationPresence
{
    Q_OBJECT

public:
    using ApplicationPresence::ApplicationPresence;

    // Keeps whatever setRunning() said: the test decides what the first look sees.
    void watch(const QString &desktopEntryId) override;
    QString watched() const override { return m_watched; }
    bool isRunning() const override { return m_running; }
    QString method() const override;

    // Emits runningChanged when this changes it.
    void setRunning(bool running);
    void setMethod(const QString &method) { m_method = method; }
    // How often watch() was called, with any id.
    int watchCount() const { return m_watchCount; }

private:
    QString m_watched;
    QString m_method = QStringLiteral("scopes");
    bool m_running = false;
    int m_watchCount = 0;
};
