#include "ClamshellController.h"
#include "ClamshellPolicy.h"
#include "ClamshellService.h"
#include "FakePowerControl.h"
#include "FuzzCheck.h"
#include "HelperService.h"
#include "KeepAwakeLedger.h"
#include "LedgerSwitch.h"
#include "MenuBarService.h"
#include "MenuBarXPCService.h"
#include "PowerController.h"
#include "ScriptedClamshellService.h"
#include "UsageStore.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusServer>
#include <QDBusSignature>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <fuzzer/FuzzedDataProvider.h>

#include <pthread.h>
#include <unistd.h>

// Requests to the agent and to the helper as they arrive from the bus: each
// input is a few method calls (object path, interface, member, arguments of
// any type, with or without a reply expected) sent over a real peer-to-peer
// connection, so the services see messages with the signatures and values
// the wire gives them. The services are the real ones, answering every call
// on their own; the power control, the lid-closed service and setting are
// in memory. The peer on the other end also stands in for the bus daemon and
// polkit when the services ask who is calling, and the input decides whether
// the caller is admitted.
//
// Checked: every call expecting a reply gets one; one of our methods with
// the wrong arguments gets InvalidArgs; a reply from our methods has the
// types the interface description gives; and what the services changed is
// exactly what the calls they answered with success asked for.

namespace {

const QString dbusPath = QStringLiteral("/org/freedesktop/DBus");
const QString polkitPath = QStringLiteral("/org/freedesktop/PolicyKit1/Authority");

// The bus daemon's and polkit's answers about the caller, which is this
// process: its own pid (or pid 1, which it cannot inspect), and polkit's
// verdict as the input says.
class CallerIdentity : public QDBusVirtualObject
{
public:
    bool authorized = true;
    bool foreign = false;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString member = message.member();
        if (message.path() == dbusPath && member == u"GetConnectionCredentials") {
            const QVariantMap credentials{
                { QStringLiteral("ProcessID"), QVariant::fromValue(quint32(foreign ? 1 : ::getpid())) },
                { QStringLiteral("UnixUserID"), QVariant::fromValue(quint32(::getuid())) },
            };
            connection.send(message.createReply(QVariant(credentials)));
        } else if (message.path() == dbusPath && member == u"NameHasOwner") {
            connection.send(message.createReply(QVariant(true)));
        } else if (message.path() == polkitPath && member == u"CheckAuthorization") {
            QDBusArgument result;
            result.beginStructure();
            result << authorized << false;
            result.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QString>());
            result.endMap();
            result.endStructure();
            connection.send(message.createReply(QVariant::fromValue(result)));
        } else {
            return false;
        }
        return true;
    }
};

class MemorySetting : public SleepDisabledSetting
{
public:
    std::atomic<bool> disabled = false;
    Expected<bool, QString> read() override { return disabled.load(); }
    Expected<void, QString> write(bool value) override
    {
        disabled = value;
        return {};
    }
};

class MemoryMarker : public OwnershipMarker
{
public:
    std::atomic<bool> present = false;
    bool exists() const override { return present; }
    Expected<void, QString> create() override
    {
        present = true;
        return {};
    }
    Expected<void, QString> remove() override
    {
        present = false;
        return {};
    }
};

struct Fixture {
    QTemporaryDir home;
    QDBusServer server;
    std::optional<QDBusConnection> serving; // the services' end
    std::optional<QDBusConnection> calling; // the callers' end
    CallerIdentity identity;
    DBusInterfaceDescription agentInterface = DBusInterfaceDescription::load(
        QStringLiteral(":/interfaces/com.quorvel.WakoraApp.MenuBar.xml"), MenuBarService::interfaceName());
    DBusInterfaceDescription helperInterface = DBusInterfaceDescription::load(
        QStringLiteral(":/interfaces/com.quorvel.WakoraApp.helper.xml"), ClamshellService::interfaceName());
};

Fixture *fixture = nullptr;

// Processes events until `done` holds; false if it did not within the time.
template <typename Condition> bool processUntil(Condition done, int milliseconds)
{
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer tick; // wakes the wait below even when nothing arrives
    tick.start(20);
    while (!done()) {
        if (elapsed.hasExpired(milliseconds))
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void dropMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(message));
        std::abort();
    }
}

// One call as the input describes it, with the signature its arguments
// marshal to, worked out here independently of what the services compute.
struct Call {
    QDBusMessage message;
    QString signature;
    bool expectsReply = true;
    QDBusPendingCall pending = QDBusPendingCall::fromCompletedCall(QDBusMessage());
};

QString pick(FuzzedDataProvider &input, const QStringList &choices)
{
    return choices.at(input.ConsumeIntegralInRange<qsizetype>(0, choices.size() - 1));
}

QString fuzzedText(FuzzedDataProvider &input)
{
    // D-Bus strings are UTF-8 without NUL; QString's UTF-8 is always valid.
    QString text = QString::fromStdString(input.ConsumeRandomLengthString(24));
    text.remove(QChar(u'\0'));
    return text;
}

// A name that is valid for a member or an interface element.
QString fuzzedName(FuzzedDataProvider &input)
{
    QString name;
    for (const QChar c : fuzzedText(input)) {
        if (c.isLetterOrNumber() && c.unicode() < 128)
            name += c;
    }
    if (name.isEmpty() || name.front().isDigit())
        name.prepend(u'M');
    return name;
}

void appendArgument(FuzzedDataProvider &input, Call &call)
{
    QVariant value;
    QString signature;
    switch (input.ConsumeIntegralInRange(0, 16)) {
    case 0:
        value = QVariant::fromValue(qlonglong(input.ConsumeIntegral<qint64>()));
        signature = QStringLiteral("x");
        break;
    case 1:
        value = QVariant(input.ConsumeBool());
        signature = QStringLiteral("b");
        break;
    case 2:
        value = QVariant::fromValue(input.ConsumeIntegral<qint32>());
        signature = QStringLiteral("i");
        break;
    case 3:
        value = QVariant::fromValue(input.ConsumeIntegral<quint32>());
        signature = QStringLiteral("u");
        break;
    case 4:
        value = QVariant::fromValue(qulonglong(input.ConsumeIntegral<quint64>()));
        signature = QStringLiteral("t");
        break;
    case 5:
        value = QVariant(input.ConsumeFloatingPoint<double>());
        signature = QStringLiteral("d");
        break;
    case 6:
        value = QVariant(fuzzedText(input));
        signature = QStringLiteral("s");
        break;
    case 7: {
        QStringList list;
        for (int count = input.ConsumeIntegralInRange(0, 3); count > 0; --count)
            list << fuzzedText(input);
        value = QVariant(list);
        signature = QStringLiteral("as");
        break;
    }
    case 8:
        value = QVariant(QByteArray::fromStdString(input.ConsumeRandomLengthString(24)));
        signature = QStringLiteral("ay");
        break;
    case 9: {
        QByteArrayList list;
        for (int count = input.ConsumeIntegralInRange(0, 2); count > 0; --count)
            list << QByteArray::fromStdString(input.ConsumeRandomLengthString(24));
        value = QVariant::fromValue(list);
        signature = QStringLiteral("aay");
        break;
    }
    case 10:
        value = QVariant::fromValue(QDBusVariant(QVariant::fromValue(qlonglong(input.ConsumeIntegral<qint64>()))));
        signature = QStringLiteral("v");
        break;
    case 11:
        value = QVariant::fromValue(input.ConsumeIntegral<uchar>());
        signature = QStringLiteral("y");
        break;
    case 12:
        value = QVariant::fromValue(input.ConsumeIntegral<qint16>());
        signature = QStringLiteral("n");
        break;
    case 13:
        value = QVariant::fromValue(input.ConsumeIntegral<quint16>());
        signature = QStringLiteral("q");
        break;
    case 14:
        value
            = QVariant::fromValue(QDBusObjectPath(pick(input, { QStringLiteral("/"), MenuBarService::objectPath() })));
        signature = QStringLiteral("o");
        break;
    case 15:
        value = QVariant::fromValue(
            QDBusSignature(pick(input, { QStringLiteral("s"), QStringLiteral("xb"), QStringLiteral("a{sv}") })));
        signature = QStringLiteral("g");
        break;
    default: {
        QVariantMap map;
        for (int count = input.ConsumeIntegralInRange(0, 2); count > 0; --count)
            map.insert(fuzzedText(input), QVariant(input.ConsumeBool()));
        value = QVariant(map);
        signature = QStringLiteral("a{sv}");
        break;
    }
    }
    call.message << value;
    call.signature += signature;
}

Call nextCall(FuzzedDataProvider &input)
{
    const QString path = pick(input,
        { MenuBarService::objectPath(), ClamshellService::objectPath(), QStringLiteral("/"),
            MenuBarService::objectPath() + QStringLiteral("/More"), QStringLiteral("/com/quorvel/WakoraApp") });
    QString interface = pick(input,
        { QString(), MenuBarService::interfaceName(), ClamshellService::interfaceName(),
            QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("org.freedesktop.DBus.Properties"),
            MenuBarService::clientInterfaceName(), QStringLiteral("fuzz") });
    if (interface == u"fuzz")
        interface = QStringLiteral("com.quorvel.") + fuzzedName(input);
    QString member = pick(input,
        { QStringLiteral("State"), QStringLiteral("SetAssertion"), QStringLiteral("SetClamshell"),
            QStringLiteral("UsageSummary"), QStringLiteral("ClearUsageHistory"), QStringLiteral("OpensAtLogin"),
            QStringLiteral("SetOpensAtLogin"), QStringLiteral("Enable"), QStringLiteral("Disable"),
            QStringLiteral("Status"), QStringLiteral("Introspect"), QStringLiteral("GetAll"),
            QStringLiteral("StateDidChange"), QStringLiteral("fuzz") });
    if (member == u"fuzz")
        member = fuzzedName(input);

    Call call;
    call.message = QDBusMessage::createMethodCall(QString(), path, interface, member);
    for (int count = input.ConsumeIntegralInRange(0, 3); count > 0; --count)
        appendArgument(input, call);
    call.expectsReply = input.ConsumeIntegralInRange(0, 7) != 0;
    return call;
}

// The method of ours a call reaches, if any.
const DBusInterfaceDescription::Method *ourMethod(const QDBusMessage &message)
{
    for (const DBusInterfaceDescription *description : { &fixture->agentInterface, &fixture->helperInterface }) {
        const QString path
            = description == &fixture->agentInterface ? MenuBarService::objectPath() : ClamshellService::objectPath();
        if (message.path() != path)
            continue;
        if (!message.interface().isEmpty() && message.interface() != description->interfaceName())
            return nullptr;
        return description->method(message.member());
    }
    return nullptr;
}

// fuzzCheck() for one call, saying which call broke the promise.
void checkCall(bool holds, const Call &call, const char *promise)
{
    if (!holds) {
        const QDBusMessage reply = call.pending.reply();
        std::fprintf(stderr, "call %s %s.%s (%s): reply %s (%s) %s\n", qUtf8Printable(call.message.path()),
            qUtf8Printable(call.message.interface()), qUtf8Printable(call.message.member()),
            qUtf8Printable(call.signature), qUtf8Printable(reply.signature()), qUtf8Printable(reply.errorName()),
            qUtf8Printable(reply.errorMessage()));
    }
    fuzzCheck(holds, promise);
}

bool succeeded(const Call &call)
{
    const QDBusMessage reply = call.pending.reply();
    if (reply.type() != QDBusMessage::ReplyMessage)
        return false;
    // The agent's switches answer an empty failure list; the helper a mode and one.
    const QVariantList arguments = reply.arguments();
    return !arguments.isEmpty() && qdbus_cast<QStringList>(arguments.constLast()).isEmpty();
}

} // namespace

// Messages still queued in libdbus or on Qt's bus thread when the process
// ends are reported as leaks without a stack that names their owner; leaks
// are left to the other targets.
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Each helper has a work thread; small stacks keep AddressSanitizer's
    // bookkeeping of new threads cheap.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    pthread_setattr_default_np(&attributes);
    pthread_attr_destroy(&attributes);

    qInstallMessageHandler(dropMessages);
    static QCoreApplication application(*argc, *argv);
    qDBusRegisterMetaType<QByteArrayList>();
    fixture = new Fixture;
    fuzzCheck(fixture->home.isValid(), "a temporary home");
    // The agent keeps its login setting under the configuration home.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(fixture->home.path()));

    fuzzCheck(fixture->server.isConnected(), "a peer-to-peer server");
    QObject::connect(&fixture->server, &QDBusServer::newConnection,
        [](const QDBusConnection &connection) { fixture->serving = connection; });
    fixture->calling = QDBusConnection::connectToPeer(fixture->server.address(), QStringLiteral("caller"));
    fuzzCheck(fixture->calling->isConnected(), "the caller connects");
    fuzzCheck(processUntil([] { return fixture->serving.has_value(); }, 10'000), "the server accepts the caller");
    fuzzCheck(fixture->calling->registerVirtualObject(
                  QStringLiteral("/org/freedesktop"), &fixture->identity, QDBusConnection::SubPath),
        "the caller answers who it is");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    fixture->identity.authorized = input.ConsumeBool();
    fixture->identity.foreign = input.ConsumeIntegralInRange(0, 7) == 0;

    QDBusConnection bus = *fixture->serving;
    const QStringList admitted{ QCoreApplication::applicationFilePath() };

    auto control = std::make_shared<FakePowerControl>();
    PowerController power(control);
    KeepAwakeLedger ledger(&power);
    LedgerSwitch toggles(&power, &ledger);
    auto lid = std::make_shared<ScriptedClamshellService>();
    ClamshellController clamshell(lid, false);
    auto usage = std::make_shared<UsageStore>(QString());
    MenuBarXPCService agent(&toggles, &ledger, &clamshell, usage, bus, admitted);
    fuzzCheck(agent.registerOnBus(), "the agent is on the connection");

    auto setting = std::make_shared<MemorySetting>();
    auto marker = std::make_shared<MemoryMarker>();
    HelperService::Options options;
    options.admittedPrograms = admitted;
    HelperService helper(bus, std::make_shared<ClamshellPolicy>(setting, marker), options);
    fuzzCheck(bus.registerVirtualObject(ClamshellService::objectPath(), &helper), "the helper is on the connection");

    std::vector<Call> calls;
    while (input.remaining_bytes() > 0 && calls.size() < 12) {
        Call call = nextCall(input);
        if (call.expectsReply)
            call.pending = fixture->calling->asyncCall(call.message);
        else
            fixture->calling->send(call.message);
        calls.push_back(std::move(call));
    }

    const auto allAnswered = [](const std::vector<Call> &sent) {
        return std::all_of(sent.cbegin(), sent.cend(),
            [](const Call &call) { return !call.expectsReply || call.pending.isFinished(); });
    };
    fuzzCheck(processUntil([&] { return allAnswered(calls); }, 20'000), "every call expecting a reply gets one");
    // Each service serves one caller's calls in order, so once these are
    // answered everything sent before them has been served or refused.
    std::vector<Call> barriers(2);
    barriers[0].message = QDBusMessage::createMethodCall(
        QString(), MenuBarService::objectPath(), MenuBarService::interfaceName(), QStringLiteral("State"));
    barriers[1].message = QDBusMessage::createMethodCall(
        QString(), ClamshellService::objectPath(), ClamshellService::interfaceName(), QStringLiteral("Status"));
    for (Call &barrier : barriers)
        barrier.pending = fixture->calling->asyncCall(barrier.message);
    fuzzCheck(processUntil([&] { return allAnswered(barriers) && !power.isBusy(); }, 20'000), "the services settle");

    // What the calls asked for, in the order they were served. A call sent
    // without expecting a reply may or may not have changed its state.
    struct Expectation {
        bool known = true;
        bool on = false;
        void answered(bool value) { known = true, on = value; }
        bool matches(bool actual) const { return !known || actual == on; }
    };
    Expectation systemSleep, displaySleep, lidClosed, helperEnabled;
    for (const Call &call : calls) {
        const DBusInterfaceDescription::Method *method = ourMethod(call.message);
        if (!method)
            continue;
        const bool toAgent = call.message.path() == MenuBarService::objectPath();
        const QString &member = method->name;
        const QVariantList arguments = call.message.arguments();
        const bool wellFormed = call.signature == method->inSignature;
        Expectation *changed = nullptr;
        if (toAgent && member == u"SetAssertion" && wellFormed)
            changed = arguments.at(0).toLongLong() == 1 ? &displaySleep : &systemSleep;
        else if (toAgent && member == u"SetClamshell")
            changed = &lidClosed;
        else if (!toAgent && member != u"Status")
            changed = &helperEnabled;

        if (!call.expectsReply) {
            if (changed && wellFormed)
                changed->known = false;
            continue;
        }
        const QDBusMessage reply = call.pending.reply();
        const bool invalidArgs = reply.type() == QDBusMessage::ErrorMessage
            && reply.errorName() == QDBusError::errorString(QDBusError::InvalidArgs);
        checkCall(invalidArgs != wellFormed, call, "wrong arguments, and only they, are refused as invalid");
        if (reply.type() == QDBusMessage::ReplyMessage)
            checkCall(reply.signature() == method->outSignature, call, "a reply has the types the description gives");
        if (!changed || !succeeded(call))
            continue;
        if (toAgent && member == u"SetAssertion") {
            const qint64 kind = arguments.at(0).toLongLong();
            checkCall(kind == 0 || kind == 1, call, "only the two kinds can be switched");
            changed->answered(arguments.at(1).toBool());
        } else if (toAgent) {
            changed->answered(arguments.at(0).toBool());
        } else {
            changed->answered(member == u"Enable");
        }
    }

    const QList<AssertionKind> held = control->activeKinds();
    fuzzCheck(systemSleep.matches(held.contains(AssertionKind::systemSleep))
            && displaySleep.matches(held.contains(AssertionKind::displaySleep)),
        "the assertions held are the ones the answered calls asked for");
    fuzzCheck(lidClosed.matches(lid->current.activation == ClamshellActivation::ownedByApp),
        "the lid-closed mode is what the last answered call asked for");
    fuzzCheck(helperEnabled.matches(setting->disabled) && helperEnabled.matches(marker->present),
        "the helper's setting is what the last answered call asked for");
    bus.unregisterObject(ClamshellService::objectPath());
    bus.unregisterObject(MenuBarService::objectPath());
    return 0;
}
