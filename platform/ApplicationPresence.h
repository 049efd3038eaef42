#pragma once

#include <QObject>
#include <QString>

// Whether any process of one desktop entry's application runs, and when that
// changes. Main thread only.
class ApplicationPresence : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts watching one desktop entry id (as RunningApplicationReading knows
    // it: "firefox-esr", "org.mozilla.firefox", "vim"); an empty id stops
    // watching, after which nothing wakes the process. isRunning() is correct
    // on return (a first look made there and then); runningChanged is emitted
    // only for later changes.
    virtual void watch(const QString &desktopEntryId) = 0;
    virtual QString watched() const = 0;
    virtual bool isRunning() const = 0;
    // How it learns of changes now, for logs, status and tests: "scopes",
    // "processes" (reading /proc) or "none".
    virtual QString method() const = 0;

Q_SIGNALS:
    void runningChanged(bool running);
};
