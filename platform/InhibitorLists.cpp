#include "InhibitorLists.h"

#include "InhibitServices.h"
#include "InhibitorRegistries.h"

#include <QCoroDBusPendingCall>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QLoggingCategory>

#include <algorithm>
#include <limits>
#include <vector>

Q_LOGGING_CATEGORY(lcInhibitorLists, "com.quorvel.WakoraApp.InhibitorLists")

namespace InhibitorLists {

namespace {

QDBusMessage registryCall(const QString &service, const QString &path, const QString &interface, const QString &method)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    // A registry that is not running stays so: we only look.
    message.setAutoStartService(false);
    return message;
}

QDBusPendingCall send(const QDBusConnection &bus, const QDBusMessage &message)
{
    return bus.asyncCall(message, InhibitorRegistries::callTimeoutMs);
}

bool isReply(const QDBusMessage &reply, QLatin1String signature)
{
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1
        && reply.signature() == signature;
}

QCoro::Task<bool> hasOwner(QDBusConnection bus, QString name)
{
    QDBusMessage message = QDBusMessage::createMethodCall(InhibitorRegistries::busService, InhibitorRegistries::busPath,
        InhibitorRegistries::busInterface, QStringLiteral("NameHasOwner"));
    message << name;
    const QDBusPendingCall pending = send(bus, message);
    const QDBusMessage reply = co_await pending;
    co_return isReply(reply, QLatin1String("b")) && reply.arguments().constFirst().toBool();
}

void noteFailure(const char *registry, const QDBusMessage &reply)
{
    qCDebug(lcInhibitorLists, "%s gave no usable list: %s %s", registry, qUtf8Printable(reply.errorName()),
        qUtf8Printable(reply.errorMessage()));
}

} // namespace

bool meansAbsent(const QString &errorName)
{
    return errorName == u"org.freedesktop.DBus.Error.ServiceUnknown"
        || errorName == u"org.freedesktop.DBus.Error.NameHasNoOwner"
        || errorName == u"org.freedesktop.DBus.Error.Disconnected";
}

QCoro::Task<LogindAnswer> readLogind(QDBusConnection systemBus)
{
    const QDBusMessage message = QDBusMessage::createMethodCall(InhibitServices::logindService,
        InhibitServices::logindPath, InhibitServices::logindInterface, QStringLiteral("ListInhibitors"));
    const QDBusPendingCall pending = send(systemBus, message);
    const QDBusMessage reply = co_await pending;
    LogindAnswer answer;
    if (reply.type() == QDBusMessage::ErrorMessage) {
        answer.errorName = reply.errorName();
        co_return answer;
    }
    if (!isReply(reply, QLatin1String("a(ssssuu)")))
        co_return answer;
    const QDBusArgument array = reply.arguments().constFirst().value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        LogindInhibitor inhibitor;
        array.beginStructure();
        array >> inhibitor.what >> inhibitor.who >> inhibitor.why >> inhibitor.mode >> inhibitor.uid >> inhibitor.pid;
        array.endStructure();
        answer.inhibitors.append(std::move(inhibitor));
    }
    array.endArray();
    answer.answered = true;
    co_return answer;
}

QCoro::Task<std::optional<QList<DesktopInhibitor>>> readGnomeSession(QDBusConnection sessionBus)
{
    const QString service = InhibitorRegistries::gnomeSessionService;
    if (!co_await hasOwner(sessionBus, service))
        co_return std::nullopt;
    const QDBusMessage list = registryCall(service, InhibitorRegistries::gnomeSessionPath,
        InhibitorRegistries::gnomeSessionInterface, QStringLiteral("GetInhibitors"));
    const QDBusPendingCall listing = send(sessionBus, list);
    const QDBusMessage reply = co_await listing;
    if (!isReply(reply, QLatin1String("ao"))) {
        noteFailure("gnome-session", reply);
        co_return std::nullopt;
    }
    const auto paths = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().constFirst());

    // Every inhibitor's three questions go out before any answer is awaited.
    struct Questions {
        QDBusPendingCall appId;
        QDBusPendingCall reason;
        QDBusPendingCall flags;
    };
    std::vector<Questions> questions;
    questions.reserve(paths.size());
    const QString interface = InhibitorRegistries::gnomeInhibitorInterface;
    for (const QDBusObjectPath &path : paths) {
        const QDBusPendingCall appId
            = send(sessionBus, registryCall(service, path.path(), interface, QStringLiteral("GetAppId")));
        const QDBusPendingCall reason
            = send(sessionBus, registryCall(service, path.path(), interface, QStringLiteral("GetReason")));
        const QDBusPendingCall flags
            = send(sessionBus, registryCall(service, path.path(), interface, QStringLiteral("GetFlags")));
        questions.push_back(Questions{ appId, reason, flags });
    }

    QList<DesktopInhibitor> inhibitors;
    for (const Questions &asked : questions) {
        const QDBusMessage appId = co_await asked.appId;
        const QDBusMessage reason = co_await asked.reason;
        const QDBusMessage flags = co_await asked.flags;
        // An inhibitor released since the listing no longer answers.
        if (!isReply(appId, QLatin1String("s")) || !isReply(reason, QLatin1String("s"))
            || !isReply(flags, QLatin1String("u")))
            continue;
        const auto type = DesktopInhibitor::gnomeSessionType(flags.arguments().constFirst().toUInt());
        if (!type)
            continue;
        DesktopInhibitor inhibitor;
        inhibitor.registry = DesktopInhibitor::Registry::gnomeSession;
        inhibitor.application = appId.arguments().constFirst().toString();
        inhibitor.type = *type;
        inhibitor.reason = reason.arguments().constFirst().toString();
        inhibitors.append(std::move(inhibitor));
    }
    co_return inhibitors;
}

QCoro::Task<std::optional<QList<DesktopInhibitor>>> readKde(QDBusConnection sessionBus)
{
    const QString service = InhibitorRegistries::kdePolicyAgentService;
    if (!co_await hasOwner(sessionBus, service))
        co_return std::nullopt;
    const QString path = InhibitorRegistries::kdePolicyAgentPath;
    const QString interface = InhibitorRegistries::kdePolicyAgentInterface;
    // Its list carries no policy: whether any inhibition holds off
    // suspending, or the screen, is asked alongside.
    const QDBusPendingCall listing
        = send(sessionBus, registryCall(service, path, interface, QStringLiteral("ListInhibitions")));
    QDBusMessage suspendQuestion = registryCall(service, path, interface, QStringLiteral("HasInhibition"));
    suspendQuestion << uint(InhibitorRegistries::kdeSuspendPolicy);
    const QDBusPendingCall suspendAsked = send(sessionBus, suspendQuestion);
    QDBusMessage screenQuestion = registryCall(service, path, interface, QStringLiteral("HasInhibition"));
    screenQuestion << uint(InhibitorRegistries::kdeScreenPolicy);
    const QDBusPendingCall screenAsked = send(sessionBus, screenQuestion);

    const QDBusMessage reply = co_await listing;
    const QDBusMessage suspend = co_await suspendAsked;
    const QDBusMessage screen = co_await screenAsked;
    if (!isReply(reply, QLatin1String("a(ss)"))) {
        noteFailure("PowerDevil", reply);
        co_return std::nullopt;
    }
    const bool asked = isReply(suspend, QLatin1String("b")) && isReply(screen, QLatin1String("b"));
    QString inEffect = DesktopInhibitor::kdeTypeInEffect(
        asked && suspend.arguments().constFirst().toBool(), asked && screen.arguments().constFirst().toBool());
    if (!asked) {
        // A PowerDevil that cannot say: its inhibitions hold off suspending
        // above all, as its freedesktop service takes them.
        noteFailure("PowerDevil's HasInhibition", suspend.type() == QDBusMessage::ErrorMessage ? suspend : screen);
        inEffect = QStringLiteral("sleep");
    }
    QList<DesktopInhibitor> inhibitors;
    if (inEffect.isEmpty())
        co_return inhibitors; // listed, but holding neither (a profile change only)
    const QDBusArgument array = reply.arguments().constFirst().value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        DesktopInhibitor inhibitor;
        inhibitor.registry = DesktopInhibitor::Registry::kde;
        // Every policy in effect for now; AssertionMerge narrows it down.
        inhibitor.type = inEffect;
        array.beginStructure();
        array >> inhibitor.application >> inhibitor.reason;
        array.endStructure();
        inhibitors.append(std::move(inhibitor));
    }
    array.endArray();
    co_return inhibitors;
}

QCoro::Task<std::optional<QList<DesktopInhibitor>>> readXfce(QDBusConnection sessionBus)
{
    const QString service = InhibitorRegistries::xfceService;
    if (!co_await hasOwner(sessionBus, service))
        co_return std::nullopt;
    const QDBusMessage list = registryCall(
        service, InhibitorRegistries::xfcePath, InhibitorRegistries::xfceInterface, QStringLiteral("GetInhibitors"));
    const QDBusPendingCall listing = send(sessionBus, list);
    const QDBusMessage reply = co_await listing;
    if (!isReply(reply, QLatin1String("as"))) {
        noteFailure("xfce4-power-manager", reply);
        co_return std::nullopt;
    }
    // Only the names: xfce4-power-manager keeps no reasons.
    QList<DesktopInhibitor> inhibitors;
    const QStringList names = qdbus_cast<QStringList>(reply.arguments().constFirst());
    for (const QString &name : names) {
        DesktopInhibitor inhibitor;
        inhibitor.registry = DesktopInhibitor::Registry::xfce;
        inhibitor.application = name;
        inhibitor.type = QStringLiteral("sleep");
        inhibitors.append(std::move(inhibitor));
    }
    co_return inhibitors;
}

QCoro::Task<std::optional<qint32>> ownerPid(QDBusConnection bus, QString name)
{
    QDBusMessage message = QDBusMessage::createMethodCall(InhibitorRegistries::busService, InhibitorRegistries::busPath,
        InhibitorRegistries::busInterface, QStringLiteral("GetConnectionUnixProcessID"));
    message << name;
    const QDBusPendingCall pending = send(bus, message);
    const QDBusMessage reply = co_await pending;
    if (!isReply(reply, QLatin1String("u")))
        co_return std::nullopt;
    const uint pid = reply.arguments().constFirst().toUInt();
    if (pid == 0 || pid > uint(std::numeric_limits<qint32>::max()))
        co_return std::nullopt;
    co_return qint32(pid);
}

bool listsOurs(const QList<DesktopInhibitor> &inhibitors, const QString &reason)
{
    return std::any_of(inhibitors.cbegin(), inhibitors.cend(), [&reason](const DesktopInhibitor &inhibitor) {
        return inhibitor.application == InhibitServices::who && (reason.isEmpty() || inhibitor.reason == reason);
    });
}

} // namespace InhibitorLists
