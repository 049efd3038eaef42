#pragma once

#include <QObject>
#include <QString>

// Whether any process of one desktop entry's application runs, and when that changes.
class ApplicationPresence : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts watching one desktop entry id (as RunningApplicationReading
    // knows it); an empty id stops watching, after which nothing wakes the
    // process. isRunning() is correct on return; runningChanged() is emitted
    // only on later changes.
    virtual void watch(const QString &desktopEntryId) = 0;
    virtual QString watched() const = 0;
    virtual bool isRunning() const = 0;
    // How changes are learnt now: "scopes", "processes" or "none".
    virtual QString method() const = 0;

Q_SIGNALS:
    void runningChanged(bool running);
};
