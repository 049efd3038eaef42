#include "SessionNotifier.h"

#include "TimedSessionController.h"

#include <QCoreApplication>
#include <QCoroDBusPendingCall>
#include <QDBusMetaType>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcNotifier, "com.quorvel.WakoraApp.SessionNotifier")

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString extendAction = QStringLiteral("extend");
const QString cancelSuspendAction = QStringLiteral("cancel-suspend");

// A server that is slow to answer must not hold the notice up for long.
constexpr int callTimeout = 5'000;

} // namespace

SessionNotifier::SessionNotifier(TimedSessionController *sessions, QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_sessions(sessions)
    , m_bus(bus)
{
    connect(sessions, &TimedSessionController::sessionEnded, this, [this](qint64 kinds) { notifyEnded(kinds); });
    m_bus.connect(service, path, service, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(QDBusMessage)));
    m_bus.connect(
        service, path, service, QStringLiteral("NotificationClosed"), this, SLOT(notificationClosed(QDBusMessage)));
}

QCoro::Task<bool> SessionNotifier::notifyEnded(qint64 kinds)
{
    const QString summary = QCoreApplication::translate("WakoraMenuBar", "잠자기 방지 시간이 끝났습니다");
    const QString body
        = QCoreApplication::translate("WakoraMenuBar", "설정한 시간이 지나 이제 컴퓨터가 다시 잠들 수 있습니다.");
    co_return co_await show(summary, body, kinds);
}

QCoro::Task<bool> SessionNotifier::notifyRuleBroken(QString reason)
{
    const QString summary = QCoreApplication::translate("WakoraMenuBar", "잠자기 방지가 꺼졌습니다");
    co_return co_await show(summary, reason, 0);
}

QCoro::Task<bool> SessionNotifier::notifyLidGivenBack(QString reason)
{
    const QString summary = QCoreApplication::translate("WakoraMenuBar", "덮개를 닫아도 유지가 꺼졌습니다");
    co_return co_await show(summary, reason, 0);
}

QCoro::Task<bool> SessionNotifier::notifySuspending(std::chrono::milliseconds grace)
{
    const qint64 seconds = std::chrono::duration_cast<std::chrono::seconds>(grace).count();
    const QString wait = seconds >= 60 && seconds % 60 == 0
        ? QCoreApplication::translate("WakoraMenuBar", "%1분").arg(seconds / 60)
        : QCoreApplication::translate("WakoraMenuBar", "%1초").arg(seconds);
    const QString summary = QCoreApplication::translate("WakoraMenuBar", "곧 잠자기 모드로 전환합니다");
    const QString body = QCoreApplication::translate("WakoraMenuBar",
        "잠자기 방지 시간이 끝났습니다. %1 뒤 컴퓨터가 잠자기 모드로 "
        "전환됩니다. 계속 깨워 두려면 취소하세요.")
                             .arg(wait);
    m_suspendingWithdrawn = false;
    co_return co_await show(summary, body, 0, true);
}

void SessionNotifier::withdrawSuspending()
{
    if (!m_suspending) {
        // The server has not answered yet: show() takes it down when it does.
        m_suspendingWithdrawn = true;
        return;
    }
    QDBusMessage close = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("CloseNotification"));
    close << *m_suspending;
    m_bus.send(close);
    m_suspending.reset();
}

QCoro::Task<bool> SessionNotifier::notifySuspendFailed(QString cause)
{
    const QString summary = QCoreApplication::translate("WakoraMenuBar", "잠자기 모드로 전환하지 못했습니다");
    co_return co_await show(summary, cause, 0);
}

QCoro::Task<bool> SessionNotifier::show(QString summary, QString body, qint64 extendKinds, bool offersCancel)
{
    QPointer<SessionNotifier> self(this);
    const QDBusConnection bus = m_bus;

    QDBusMessage ask = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("GetCapabilities"));
    QDBusPendingCall asking = bus.asyncCall(ask, callTimeout);
    const QDBusMessage capabilities = co_await asking;
    if (!self)
        co_return false;
    if (capabilities.type() != QDBusMessage::ReplyMessage) {
        // No server runs (a bare session, a test): the session ended all the same.
        qCDebug(lcNotifier, "No notice shown: %s", qUtf8Printable(capabilities.errorMessage()));
        co_return false;
    }
    const bool serverActions = capabilities.arguments().value(0).toStringList().contains(QStringLiteral("actions"));
    const bool offersActions = extendKinds != 0 && serverActions;

    // Named values, not braced temporaries: GCC 12 mishandles those in a coroutine.
    QStringList actions;
    if (offersActions)
        actions << extendAction << QCoreApplication::translate("WakoraMenuBar", "1시간 연장");
    if (offersCancel && serverActions)
        actions << cancelSuspendAction << QCoreApplication::translate("WakoraMenuBar", "취소");
    const QVariantMap hints;
    QDBusMessage notify = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    notify << QStringLiteral("Wakora") << quint32(0) << QStringLiteral("com.quorvel.WakoraApp") << summary << body
           << actions << hints << qint32(-1);
    QDBusPendingCall notifying = bus.asyncCall(notify, callTimeout);
    const QDBusMessage shown = co_await notifying;
    if (!self)
        co_return false;
    if (shown.type() != QDBusMessage::ReplyMessage || shown.arguments().isEmpty()) {
        qCWarning(lcNotifier, "The notification server refused the notice: %s", qUtf8Printable(shown.errorMessage()));
        co_return false;
    }
    m_server = shown.service();
    if (offersActions)
        m_shown.insert(shown.arguments().first().toUInt(), extendKinds);
    if (offersCancel) {
        m_suspending = shown.arguments().first().toUInt();
        if (m_suspendingWithdrawn)
            withdrawSuspending();
    }
    co_return true;
}

void SessionNotifier::actionInvoked(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (message.service() != m_server || arguments.size() != 2)
        return;
    const quint32 id = arguments.at(0).toUInt();
    if (arguments.at(1).toString() == cancelSuspendAction && m_suspending == id) {
        m_suspending.reset();
        Q_EMIT suspendCancelled();
        return;
    }
    if (arguments.at(1).toString() != extendAction || !m_shown.contains(id))
        return;
    const qint64 kinds = m_shown.take(id);
    if (!m_sessions)
        return;
    [](QPointer<TimedSessionController> sessions, qint64 kinds) -> QCoro::Task<> {
        const auto failure = co_await sessions->startFor(kinds, extensionSeconds);
        if (failure)
            qCWarning(lcNotifier, "Cannot extend the session: %s", qUtf8Printable(*failure));
    }(m_sessions, kinds);
}

void SessionNotifier::notificationClosed(const QDBusMessage &message)
{
    if (message.service() != m_server || message.arguments().isEmpty())
        return;
    const quint32 id = message.arguments().first().toUInt();
    m_shown.remove(id);
    // Dismissed without a choice: the suspend goes on, as the warning said.
    if (m_suspending == id)
        m_suspending.reset();
}
