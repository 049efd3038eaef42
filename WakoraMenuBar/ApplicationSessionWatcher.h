#pragma once

#include "ApplicationPresence.h"
#include "KeepAwakeLedger.h"
#include "RuleStore.h"
#include "RunningApplicationReading.h"

#include <QObject>
#include <QPointer>

#include <memory>

// "Keep awake while this application runs": while a process of the rule's
// desktop entry runs, the application's claim asks the ledger for the
// rule's kinds; when the last one ends, the claim is withdrawn and ended()
// says so. The user switching a kind off ends the claim until the
// application's next start. The rule lives in the agent's rule store. Main
// thread only.
class ApplicationSessionWatcher : public QObject
{
    Q_OBJECT

public:
    static QString unknownApplication() { return QStringLiteral("Unknown application"); }

    ApplicationSessionWatcher(KeepAwakeLedger *ledger, RuleStore *store,
        std::shared_ptr<RunningApplicationReading> applications, std::shared_ptr<ApplicationPresence> presence,
        QObject *parent = nullptr);

    const ApplicationRule &rule() const { return m_store->applicationRule(); }
    // The entry's name in the user's language, for texts; the id when unknown.
    QString applicationName() const;
    // Stores a rule for the application an id or name stands for, or clears
    // it with an empty one; absent on success, else the requester's text.
    // The old rule's claim ends with it; the new one's starts at once when
    // the application already runs.
    QCoro::Task<std::optional<QString>> setRule(QString idOrName, qint64 kinds);
    // Whether anything is being watched: only while a rule is set.
    bool isWatching() const { return !m_presence->watched().isEmpty(); }

Q_SIGNALS:
    void ruleChanged();
    // The application ended and kinds it kept on went off.
    void ended(const QString &reason);

private:
    void follow();
    void runningChanged(bool running);
    QCoro::Task<> claim();
    QCoro::Task<> release();

    QPointer<KeepAwakeLedger> m_ledger;
    QPointer<RuleStore> m_store;
    std::shared_ptr<RunningApplicationReading> m_applications;
    std::shared_ptr<ApplicationPresence> m_presence;
    QString m_name; // the entry's name, for texts
};
