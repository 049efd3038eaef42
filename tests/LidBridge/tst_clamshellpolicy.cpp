#include "ClamshellPolicy.h"
#include "ClamshellService.h"

#include <QTest>

namespace {

// Records every call, so tests see what was touched and in which order.
struct Journal {
    QStringList calls;
};

class MemorySetting : public SleepDisabledSetting
{
public:
    explicit MemorySetting(Journal &journal)
        : m_journal(journal)
    { }
    bool disabled = false;
    std::optional<QString> readFailure;
    std::optional<QString> writeFailure;

    Expected<bool, QString> read() override
    {
        m_journal.calls << QStringLiteral("read");
        if (readFailure)
            return Unexpected(*readFailure);
        return disabled;
    }
    Expected<void, QString> write(bool value) override
    {
        m_journal.calls << QStringLiteral("write %1").arg(value);
        if (writeFailure)
            return Unexpected(*writeFailure);
        disabled = value;
        return {};
    }

private:
    Journal &m_journal;
};

class MemoryMarker : public OwnershipMarker
{
public:
    explicit MemoryMarker(Journal &journal)
        : m_journal(journal)
    { }
    bool present = false;
    std::optional<QString> createFailure;
    std::optional<QString> removeFailure;

    bool exists() const override { return present; }
    Expected<void, QString> create() override
    {
        m_journal.calls << QStringLiteral("create");
        if (createFailure)
            return Unexpected(*createFailure);
        present = true;
        return {};
    }
    Expected<void, QString> remove() override
    {
        m_journal.calls << QStringLiteral("remove");
        if (removeFailure)
            return Unexpected(*removeFailure);
        present = false;
        return {};
    }

private:
    Journal &m_journal;
};

} // namespace

class TestClamshellPolicy : public QObject
{
    Q_OBJECT

    Journal journal;
    std::shared_ptr<MemorySetting> setting;
    std::shared_ptr<MemoryMarker> marker;
    std::optional<ClamshellPolicy> policy;

    QStringList calls() const { return journal.calls; }

private Q_SLOTS:
    void init()
    {
        journal = {};
        setting = std::make_shared<MemorySetting>(journal);
        marker = std::make_shared<MemoryMarker>(journal);
        policy.emplace(setting, marker);
    }

    void modeRawValues()
    {
        QCOMPARE(clamshellModeFromRaw(0), ClamshellMode::off);
        QCOMPARE(clamshellModeFromRaw(1), ClamshellMode::owned);
        QCOMPARE(clamshellModeFromRaw(2), ClamshellMode::system);
        QVERIFY(!clamshellModeFromRaw(3));
        QVERIFY(!clamshellModeFromRaw(-1));
    }

    void statusPrefersTheMarker()
    {
        marker->present = true;
        QCOMPARE(policy->status().value(), ClamshellMode::owned);
        QVERIFY(calls().isEmpty()); // the setting is not consulted

        marker->present = false;
        setting->disabled = true;
        QCOMPARE(policy->status().value(), ClamshellMode::system);
        setting->disabled = false;
        QCOMPARE(policy->status().value(), ClamshellMode::off);

        setting->readFailure = QStringLiteral("pmset exited with 1");
        QCOMPARE(policy->status().error(), QStringLiteral("pmset exited with 1"));
    }

    void enableWithOurMarkerTouchesNothing()
    {
        marker->present = true;
        QCOMPARE(policy->enable().value(), ClamshellMode::owned);
        QVERIFY(calls().isEmpty());
    }

    void enableLeavesSomeoneElsesSettingAlone()
    {
        setting->disabled = true;
        QCOMPARE(policy->enable().value(), ClamshellMode::system);
        QCOMPARE(calls(), QStringList{ QStringLiteral("read") });
        QVERIFY(!marker->present);
    }

    void enableCreatesTheMarkerBeforeWriting()
    {
        QCOMPARE(policy->enable().value(), ClamshellMode::owned);
        QCOMPARE(calls(), (QStringList{ QStringLiteral("read"), QStringLiteral("create"), QStringLiteral("write 1") }));
        QVERIFY(marker->present);
        QVERIFY(setting->disabled);
    }

    void enableFailuresBeforeTheWriteChangeNothing()
    {
        setting->readFailure = QStringLiteral("cannot read");
        QCOMPARE(policy->enable().error(), QStringLiteral("cannot read"));
        QCOMPARE(calls(), QStringList{ QStringLiteral("read") });

        init();
        marker->createFailure = QStringLiteral("Unsafe marker directory");
        QCOMPARE(policy->enable().error(), QStringLiteral("Unsafe marker directory"));
        QCOMPARE(calls(), (QStringList{ QStringLiteral("read"), QStringLiteral("create") }));
        QVERIFY(!setting->disabled);
    }

    void failedWriteTakesTheMarkerBack()
    {
        setting->writeFailure = QStringLiteral("pmset exited with 1");
        QCOMPARE(policy->enable().error(), QStringLiteral("pmset exited with 1"));
        QVERIFY(!marker->present);
        QCOMPARE(calls().last(), QStringLiteral("remove"));

        // A failing clean-up does not hide the write's error.
        init();
        setting->writeFailure = QStringLiteral("pmset exited with 1");
        marker->removeFailure = QStringLiteral("Cannot remove marker: Permission denied");
        QCOMPARE(policy->enable().error(), QStringLiteral("pmset exited with 1"));
    }

    void restoreOnlyUndoesWhatWeDid()
    {
        setting->disabled = true; // someone else's
        QVERIFY(policy->restore());
        QVERIFY(calls().isEmpty());
        QVERIFY(setting->disabled);

        marker->present = true;
        QVERIFY(policy->restore());
        QCOMPARE(calls(), (QStringList{ QStringLiteral("write 0"), QStringLiteral("remove") }));
        QVERIFY(!setting->disabled);
        QVERIFY(!marker->present);
    }

    void failedRestoreKeepsTheMarkerForTheNextTry()
    {
        marker->present = true;
        setting->disabled = true;
        setting->writeFailure = QStringLiteral("pmset exited with 3");
        QCOMPARE(policy->restore().error(), QStringLiteral("pmset exited with 3"));
        QVERIFY(marker->present);

        setting->writeFailure.reset();
        marker->removeFailure = QStringLiteral("Cannot remove marker: Device or resource busy");
        QCOMPARE(policy->restore().error(), QStringLiteral("Cannot remove marker: Device or resource busy"));
        QVERIFY(!setting->disabled);
    }

    void helperIdentity()
    {
        QCOMPARE(ClamshellService::machServiceName(), QStringLiteral("com.quorvel.WakoraApp.helper"));
        QCOMPARE(ClamshellService::plistName(), QStringLiteral("com.quorvel.WakoraApp.helper.plist"));
        QCOMPARE(ClamshellService::appRequirement(),
            QStringLiteral("identifier \"Q4WX7KD2RM.com.quorvel.WakoraApp.MenuBar\" and anchor apple generic "
                           "and certificate leaf[subject.OU] = \"Q4WX7KD2RM\""));
        // Identical apart from the identifier.
        QString helper = ClamshellService::helperRequirement();
        helper.replace(
            QStringLiteral("com.quorvel.WakoraApp.helper"), QStringLiteral("Q4WX7KD2RM.com.quorvel.WakoraApp.MenuBar"));
        QCOMPARE(helper, ClamshellService::appRequirement());
        QVERIFY(ClamshellService::helperRequirement().endsWith(QStringLiteral("\"Q4WX7KD2RM\"")));
    }
};

QTEST_GUILESS_MAIN(TestClamshellPolicy)
#include "tst_clamshellpolicy.moc"
