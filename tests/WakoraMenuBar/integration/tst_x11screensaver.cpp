#include "X11ScreenSaverSuspension.h"
#include "XvfbDisplay.h"

#include <QTest>

// Xlib's macros clash with Qt's names: its calls are wrapped at the end of the file.
struct _XDisplay;
namespace X {
_XDisplay *open(const QString &name);
void close(_XDisplay *display);
// A one-second screen saver, so that the server's blanking shows at once.
void saveAfterOneSecond(_XDisplay *display);
// As a key press would.
void reset(_XDisplay *display);
bool isSaving(_XDisplay *display);
// As an agent holding the display kind would, with nothing to undo it.
void suspend(_XDisplay *display);
} // namespace X

// The X server's own blanking on a real X server (Xvfb): held off while the
// agent holds the display kind, and free again once it lets go or goes.
class TestX11ScreenSaver : public QObject
{
    Q_OBJECT

    XvfbDisplay server;
    _XDisplay *display = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString why = server.start(); !why.isEmpty())
            QSKIP(qPrintable(why));
        display = X::open(server.name());
        QVERIFY2(display, "cannot connect to the test's X server");
        X::saveAfterOneSecond(display);
    }

    void cleanupTestCase()
    {
        if (display)
            X::close(display);
    }

    void init()
    {
        X::reset(display);
        QVERIFY(!X::isSaving(display));
    }

    void theServerBlanksWhenNothingHoldsIt() { QTRY_VERIFY_WITH_TIMEOUT(X::isSaving(display), 5000); }

    void aSuspensionHoldsTheBlankingOffUntilItEnds()
    {
        X11ScreenSaverSuspension suspension(display);
        QVERIFY(suspension.isAvailable());
        suspension.setSuspended(true);
        suspension.setSuspended(true); // one suspension, however often it is asked
        QTest::qWait(3000); // three of the server's idle periods
        QVERIFY(!X::isSaving(display));

        suspension.setSuspended(false);
        QVERIFY(!suspension.isSuspended());
        QTRY_VERIFY_WITH_TIMEOUT(X::isSaving(display), 5000);
    }

    void aSuspensionEndsWithItsOwnerAndItsConnection()
    {
        {
            X11ScreenSaverSuspension suspension(display);
            suspension.setSuspended(true);
        }
        QTRY_VERIFY_WITH_TIMEOUT(X::isSaving(display), 5000);

        // An agent that is killed never lets go itself: the server ends what
        // its connection held.
        X::reset(display);
        _XDisplay *agent = X::open(server.name());
        QVERIFY(agent);
        X::suspend(agent);
        QTest::qWait(2000);
        QVERIFY(!X::isSaving(display));
        X::close(agent);
        QTRY_VERIFY_WITH_TIMEOUT(X::isSaving(display), 5000);
    }

    void noDisplayIsInert()
    {
        X11ScreenSaverSuspension none(nullptr);
        QVERIFY(!none.isAvailable());
        none.setSuspended(true);
        QVERIFY(!none.isSuspended());
    }
};

QTEST_GUILESS_MAIN(TestX11ScreenSaver)
#include "tst_x11screensaver.moc"

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace X {

_XDisplay *open(const QString &name)
{
    return XOpenDisplay(name.toLocal8Bit().constData());
}

void close(_XDisplay *display)
{
    XCloseDisplay(display);
}

void saveAfterOneSecond(_XDisplay *display)
{
    XSetScreenSaver(display, 1, 0, DontPreferBlanking, AllowExposures);
    XSync(display, False);
}

void reset(_XDisplay *display)
{
    XResetScreenSaver(display);
    XSync(display, False);
}

bool isSaving(_XDisplay *display)
{
    XScreenSaverInfo *info = XScreenSaverAllocInfo();
    const bool saving
        = XScreenSaverQueryInfo(display, DefaultRootWindow(display), info) && info->state == ScreenSaverOn;
    XFree(info);
    return saving;
}

void suspend(_XDisplay *display)
{
    XScreenSaverSuspend(display, True);
    XSync(display, False);
}

} // namespace X
