#include "ApplicationSessionWatcher.h"

#include "TimedSession.h"

#include <QCoreApplication>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcApplicationSession, "com.quorvel.WakoraApp.ApplicationSession")

ApplicationSessionWatcher::ApplicationSessionWatcher(KeepAwakeLedger *ledger, RuleStore *store,
    std::shared_ptr<RunningApplicationReading> applications, std::shared_ptr<ApplicationPresence> presence,
    QObject *parent)
    : QObject(parent)
    , m_ledger(ledger)
    , m_store(store)
    , m_applications(std::move(applications))
    , m_presence(std::move(presence))
{
    connect(m_presence.get(), &ApplicationPresence::runningChanged, this, &ApplicationSessionWatcher::runningChanged);
    connect(store, &RuleStore::applicationRuleChanged, this, [this] {
        Q_EMIT ruleChanged();
        follow();
    });
    follow();
}

QString ApplicationSessionWatcher::applicationName() const
{
    return m_name.isEmpty() ? rule().application : m_name;
}

QCoro::Task<std::optional<QString>> ApplicationSessionWatcher::setRule(QString idOrName, qint64 kinds)
{
    ApplicationRule rule;
    if (!idOrName.isEmpty()) {
        if (!TimedSession::isValidKinds(kinds))
            co_return TimedSession::invalidKinds();
        const auto entry = m_applications->desktopApplication(idOrName);
        if (!entry)
            co_return unknownApplication();
        rule = ApplicationRule{ entry->id, kinds };
    }
    const QPointer<RuleStore> store = m_store;
    if (!store)
        co_return QStringLiteral("The agent is ending");
    // The store announces the new rule, which follow() then carries out.
    co_return co_await store->setApplicationRule(rule);
}

void ApplicationSessionWatcher::follow()
{
    const ApplicationRule &rule = m_store->applicationRule();
    const std::optional<DesktopApplication> entry
        = rule.application.isEmpty() ? std::nullopt : m_applications->desktopApplication(rule.application);
    m_name = entry ? entry->localizedName : QString();
    // The old rule's claim ends with it, whatever the new rule says.
    release();
    m_presence->watch(rule.application);
    qCInfo(lcApplicationSession, "Following %s (%s)", qUtf8Printable(rule.application),
        qUtf8Printable(m_presence->method()));
    if (m_presence->isRunning())
        claim();
}

void ApplicationSessionWatcher::runningChanged(bool running)
{
    if (running) {
        claim();
        return;
    }
    // What only this claim kept on goes off with it: that is what the notice says.
    const QPointer<KeepAwakeLedger> ledger = m_ledger;
    const auto claimed = ledger ? ledger->claim(Claim::applicationOwner()) : std::nullopt;
    qint64 released = 0;
    if (claimed && !ledger->veto()) {
        for (const AssertionKind kind : allAssertionKinds) {
            const bool othersAsk
                = std::any_of(ledger->claims().cbegin(), ledger->claims().cend(), [kind](const Claim &other) {
                      return other.owner != Claim::applicationOwner() && (other.kinds & assertionBit(kind));
                  });
            if ((claimed->kinds & assertionBit(kind)) && !othersAsk)
                released |= assertionBit(kind);
        }
    }
    release();
    if (released != 0)
        Q_EMIT ended(QCoreApplication::translate("WakoraMenuBar", "%1이(가) 종료되어 잠자기 방지를 껐습니다.")
                         .arg(applicationName()));
}

QCoro::Task<> ApplicationSessionWatcher::claim()
{
    const QPointer<KeepAwakeLedger> ledger = m_ledger;
    const ApplicationRule rule = m_store->applicationRule();
    if (!ledger || rule.application.isEmpty())
        co_return;
    qCInfo(lcApplicationSession, "%s runs: claiming kinds %lld", qUtf8Printable(rule.application), rule.kinds);
    // A standing order: while a condition vetoes it, it waits to be held.
    const QString owner = Claim::applicationOwner();
    const KeepAwakeLedger::Details details{ std::nullopt, applicationName(), /*waitsOutVeto=*/true };
    const auto failure = co_await ledger->add(owner, rule.kinds, details);
    if (failure)
        qCWarning(lcApplicationSession, "Cannot keep kinds %lld on for %s: %s", rule.kinds,
            qUtf8Printable(rule.application), qUtf8Printable(*failure));
}

QCoro::Task<> ApplicationSessionWatcher::release()
{
    const QPointer<KeepAwakeLedger> ledger = m_ledger;
    const QString owner = Claim::applicationOwner();
    if (ledger)
        co_await ledger->withdraw(owner);
}
