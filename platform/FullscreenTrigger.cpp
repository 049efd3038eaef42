#include "FullscreenTrigger.h"

#include "KWinFullscreenScript.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <algorithm>
#include <cstdlib>

#include <xcb/xcb.h>

Q_LOGGING_CATEGORY(lcFullscreenTrigger, "com.quorvel.WakoraApp.FullscreenTrigger")

namespace {

// Frees what xcb hands out with malloc.
struct Free {
    void operator()(void *pointer) const { std::free(pointer); }
};
template <typename T> using XcbPointer = std::unique_ptr<T, Free>;

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    const auto cookie = xcb_intern_atom(connection, false, quint16(qstrlen(name)), name);
    const XcbPointer<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A property's value, or null when the window or property is gone.
XcbPointer<xcb_get_property_reply_t> windowProperty(
    xcb_connection_t *connection, xcb_window_t window, xcb_atom_t name, xcb_atom_t type, quint32 longs = 1024)
{
    const auto cookie = xcb_get_property(connection, false, window, name, type, 0, longs);
    xcb_generic_error_t *error = nullptr;
    XcbPointer<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, &error));
    std::free(error);
    if (reply && reply->type == XCB_ATOM_NONE)
        reply.reset();
    return reply;
}

QByteArray propertyBytes(const xcb_get_property_reply_t *reply)
{
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
}

void selectPropertyChanges(xcb_connection_t *connection, xcb_window_t window, bool select)
{
    // Our own selection on the window, beside other clients'; a window gone
    // meanwhile answers an error event, which readEvents passes over.
    const quint32 mask = select ? XCB_EVENT_MASK_PROPERTY_CHANGE : XCB_EVENT_MASK_NO_EVENT;
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
}

} // namespace

void FullscreenTrigger::Disconnect::operator()(xcb_connection_t *connection) const
{
    xcb_disconnect(connection);
}

FullscreenTrigger::FullscreenTrigger(QDBusConnection sessionBus, QProcessEnvironment environment, QObject *parent)
    : Trigger(parent)
    , m_bus(std::move(sessionBus))
    , m_environment(std::move(environment))
{ }

FullscreenTrigger::~FullscreenTrigger() = default;

bool FullscreenTrigger::onWayland() const
{
    return !m_environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty()
        || m_environment.value(QStringLiteral("XDG_SESSION_TYPE")) == QLatin1String("wayland");
}

std::optional<QString> FullscreenTrigger::sessionUnavailable() const
{
    // Under XWayland the X side sees only X clients: on a Wayland session the
    // EWMH properties would miss most windows, and only KWin tells.
    if (onWayland()) {
        if (m_kwin || KWinFullscreenScript::kwinPresent(m_bus))
            return std::nullopt;
        return QStringLiteral("Wayland에서는 이 데스크톱이 전체 화면 창을 알려 주지 않습니다");
    }
    if (m_environment.value(QStringLiteral("DISPLAY")).isEmpty())
        return QStringLiteral("화면이 없어 전체 화면 창을 알 수 없습니다");
    return std::nullopt;
}

std::optional<QString> FullscreenTrigger::unavailable() const
{
    if (auto why = sessionUnavailable())
        return why;
    return m_failure;
}

void FullscreenTrigger::start(const QVariantMap &options)
{
    Q_UNUSED(options);
    if (m_connection || m_kwin || sessionUnavailable())
        return;
    if (onWayland()) {
        startKWin();
        return;
    }
    const QByteArray display = m_environment.value(QStringLiteral("DISPLAY")).toLocal8Bit();
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, Disconnect> connection(xcb_connect(display.constData(), &screenNumber));
    if (xcb_connection_has_error(connection.get())) {
        qCWarning(lcFullscreenTrigger) << "Cannot reach the X server at" << display;
        m_failure = QStringLiteral("X 서버에 연결할 수 없어 전체 화면 창을 알 수 없습니다");
        return;
    }
    m_failure.reset();
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    m_root = screens.data->root;
    m_connection = std::move(connection);
    xcb_connection_t *c = m_connection.get();
    m_atoms.activeWindow = internAtom(c, "_NET_ACTIVE_WINDOW");
    m_atoms.state = internAtom(c, "_NET_WM_STATE");
    m_atoms.fullscreen = internAtom(c, "_NET_WM_STATE_FULLSCREEN");
    m_atoms.name = internAtom(c, "_NET_WM_NAME");
    m_atoms.utf8String = internAtom(c, "UTF8_STRING");

    selectPropertyChanges(c, m_root, true);
    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &FullscreenTrigger::readEvents);
    followActiveWindow();
    // Replies above may have read events along with them, which the socket
    // will not announce again.
    readEvents();
}

void FullscreenTrigger::startKWin()
{
    m_failure.reset();
    m_kwin = std::make_unique<KWinFullscreenScript>(m_bus);
    connect(m_kwin.get(), &KWinFullscreenScript::fullscreenChanged, this,
        [this](bool fullscreen, const QString &title) { setActive(fullscreen, title); });
    connect(m_kwin.get(), &KWinFullscreenScript::failed, this, [this](const QString &why) {
        m_failure = why;
        setActive(false);
    });
    m_kwin->start();
}

void FullscreenTrigger::stop()
{
    m_kwin.reset();
    m_notifier.reset();
    m_connection.reset();
    m_activeWindow = 0;
    clearActive();
}

void FullscreenTrigger::readEvents()
{
    while (m_connection) {
        const XcbPointer<xcb_generic_event_t> event(xcb_poll_for_event(m_connection.get()));
        if (!event)
            break;
        if ((event->response_type & ~0x80) != XCB_PROPERTY_NOTIFY)
            continue; // errors for windows gone meanwhile, and what else the server sends
        const auto *change = reinterpret_cast<const xcb_property_notify_event_t *>(event.get());
        if (change->window == m_root && change->atom == m_atoms.activeWindow)
            followActiveWindow();
        else if (change->window == m_activeWindow
            && (change->atom == m_atoms.state || change->atom == m_atoms.name || change->atom == XCB_ATOM_WM_NAME))
            checkActiveWindow();
    }
    if (m_connection && xcb_connection_has_error(m_connection.get())) {
        // The server went away (the session ended): nothing is fullscreen any more.
        qCWarning(lcFullscreenTrigger, "The connection to the X server broke");
        m_notifier.reset();
        m_connection.reset();
        m_activeWindow = 0;
        setActive(false);
    }
}

void FullscreenTrigger::followActiveWindow()
{
    xcb_connection_t *c = m_connection.get();
    xcb_window_t active = 0;
    if (const auto reply = windowProperty(c, m_root, m_atoms.activeWindow, XCB_ATOM_WINDOW);
        reply && xcb_get_property_value_length(reply.get()) >= int(sizeof(xcb_window_t)))
        active = *static_cast<const xcb_window_t *>(xcb_get_property_value(reply.get()));
    if (active == m_root)
        active = 0; // "no window", as some window managers say it; the root's selection stays
    if (active != m_activeWindow) {
        if (m_activeWindow != 0)
            selectPropertyChanges(c, m_activeWindow, false);
        m_activeWindow = active;
        if (m_activeWindow != 0)
            selectPropertyChanges(c, m_activeWindow, true);
        xcb_flush(c);
    }
    checkActiveWindow();
}

void FullscreenTrigger::checkActiveWindow()
{
    bool fullscreen = false;
    if (m_activeWindow != 0) {
        if (const auto reply = windowProperty(m_connection.get(), m_activeWindow, m_atoms.state, XCB_ATOM_ATOM)) {
            const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply.get()));
            const int count = xcb_get_property_value_length(reply.get()) / int(sizeof(xcb_atom_t));
            fullscreen = std::find(atoms, atoms + count, m_atoms.fullscreen) != atoms + count;
        }
    }
    setActive(fullscreen, fullscreen ? windowTitle() : QString());
}

QString FullscreenTrigger::windowTitle() const
{
    xcb_connection_t *c = m_connection.get();
    if (const auto reply = windowProperty(c, m_activeWindow, m_atoms.name, m_atoms.utf8String))
        if (const QString title = QString::fromUtf8(propertyBytes(reply.get())); !title.isEmpty())
            return title;
    if (const auto reply = windowProperty(c, m_activeWindow, XCB_ATOM_WM_NAME, XCB_ATOM_STRING))
        if (const QString title = QString::fromLatin1(propertyBytes(reply.get())); !title.isEmpty())
            return title;
    // WM_CLASS holds the instance and the class, each ended by a NUL: the class names the program.
    if (const auto reply = windowProperty(c, m_activeWindow, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING)) {
        const QList<QByteArray> parts = propertyBytes(reply.get()).split('\0');
        if (parts.size() >= 2)
            return QString::fromLatin1(parts[1]);
    }
    return QString();
}
