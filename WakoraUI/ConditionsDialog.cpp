#include "ConditionsDialog.h"

#include "ClaimTexts.h"
#include "TriggerOptions.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString localized(const char *text)
{
    return QCoreApplication::translate("WakoraUI", text);
}

} // namespace

ConditionsDialog::ConditionsDialog(QWidget *parent)
    : QDialog(parent)
    , m_onlyOnAC(new QCheckBox(localized("전원에 연결되어 있을 때만 깨워 두기"), this))
    , m_batteryFloorSet(new QCheckBox(localized("배터리가 이만큼 아래로 내려가면 끄기:"), this))
    , m_batteryFloor(new QSpinBox(this))
    , m_applicationSet(new QCheckBox(localized("이 앱이 실행되는 동안 깨워 두기:"), this))
    , m_application(new QLineEdit(this))
    , m_applicationKeepsDisplay(new QCheckBox(localized("디스플레이도 켜 두기"), this))
    , m_lidPowerRules(new QCheckBox(localized("위의 전원 조건이 깨지면 덮개를 닫아도 유지도 끄기"), this))
    , m_lidBagSet(new QCheckBox(localized("배터리로 덮개를 닫고 외부 디스플레이가 없으면 끄기:"), this))
    , m_lidBagMinutes(new QSpinBox(this))
    , m_lidThermal(new QCheckBox(localized("덮개를 닫은 채 과열되면 끄기"), this))
    , m_error(new QLabel(this))
{
    m_triggerLayout = new QVBoxLayout;
    setObjectName(QStringLiteral("conditionsDialog"));
    setWindowTitle(localized("깨워 둘 조건"));
    m_onlyOnAC->setObjectName(QStringLiteral("conditions.onlyOnAC"));
    m_batteryFloorSet->setObjectName(QStringLiteral("conditions.batteryFloorSet"));
    m_batteryFloor->setObjectName(QStringLiteral("conditions.batteryFloor"));
    m_batteryFloor->setRange(1, 99);
    m_batteryFloor->setValue(10);
    m_batteryFloor->setSuffix(QStringLiteral("%"));
    m_applicationSet->setObjectName(QStringLiteral("conditions.applicationSet"));
    m_application->setObjectName(QStringLiteral("conditions.application"));
    m_application->setPlaceholderText(QStringLiteral("org.gnome.Totem"));
    m_applicationKeepsDisplay->setObjectName(QStringLiteral("conditions.applicationKeepsDisplay"));
    m_lidPowerRules->setObjectName(QStringLiteral("conditions.lidPowerRules"));
    m_lidBagSet->setObjectName(QStringLiteral("conditions.lidBagSet"));
    m_lidBagMinutes->setObjectName(QStringLiteral("conditions.lidBagMinutes"));
    m_lidBagMinutes->setRange(1, 240);
    m_lidBagMinutes->setValue(LidGuardRules{}.bagMinutes);
    m_lidBagMinutes->setSuffix(localized("분 후"));
    m_lidThermal->setObjectName(QStringLiteral("conditions.lidThermal"));
    m_error->setObjectName(QStringLiteral("conditions.error"));
    m_error->setWordWrap(true);
    QPalette red = m_error->palette();
    red.setColor(QPalette::WindowText, QColor(0xd7, 0x26, 0x1e));
    m_error->setPalette(red);
    m_error->hide();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_onlyOnAC);
    auto *battery = new QHBoxLayout;
    battery->addWidget(m_batteryFloorSet);
    battery->addWidget(m_batteryFloor);
    battery->addStretch();
    layout->addLayout(battery);
    layout->addWidget(m_applicationSet);
    auto *application = new QVBoxLayout;
    application->setContentsMargins(24, 0, 0, 0);
    application->addWidget(m_application);
    application->addWidget(m_applicationKeepsDisplay);
    layout->addLayout(application);
    // The triggers come with the agent's list, in setConditions().
    auto *triggersTitle = new QLabel(localized("이럴 때도 깨워 두기"), this);
    triggersTitle->setObjectName(QStringLiteral("conditions.triggersTitle"));
    QFont triggersFont = triggersTitle->font();
    triggersFont.setBold(true);
    triggersTitle->setFont(triggersFont);
    triggersTitle->hide();
    layout->addSpacing(8);
    layout->addWidget(triggersTitle);
    m_triggerLayout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(m_triggerLayout);
    auto *lidTitle = new QLabel(localized("덮개를 닫아도 유지할 때"), this);
    QFont bold = lidTitle->font();
    bold.setBold(true);
    lidTitle->setFont(bold);
    layout->addSpacing(8);
    layout->addWidget(lidTitle);
    layout->addWidget(m_lidPowerRules);
    auto *bag = new QHBoxLayout;
    bag->addWidget(m_lidBagSet);
    bag->addWidget(m_lidBagMinutes);
    bag->addStretch();
    layout->addLayout(bag);
    layout->addWidget(m_lidThermal);
    layout->addWidget(m_error);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(localized("적용"));
    buttons->button(QDialogButtonBox::Cancel)->setText(localized("취소"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    const auto follow = [this] {
        m_batteryFloor->setEnabled(m_batteryFloorSet->isChecked());
        m_application->setEnabled(m_applicationSet->isChecked());
        m_applicationKeepsDisplay->setEnabled(m_applicationSet->isChecked());
        m_lidBagMinutes->setEnabled(m_lidBagSet->isChecked());
    };
    connect(m_batteryFloorSet, &QCheckBox::toggled, this, follow);
    connect(m_lidBagSet, &QCheckBox::toggled, this, follow);
    connect(m_applicationSet, &QCheckBox::toggled, this, follow);
    follow();
}

void ConditionsDialog::setConditions(const SessionConditions &conditions)
{
    m_onlyOnAC->setChecked(conditions.onlyOnAC);
    m_batteryFloorSet->setChecked(conditions.batteryFloor > 0);
    if (conditions.batteryFloor > 0)
        m_batteryFloor->setValue(conditions.batteryFloor);
    m_applicationSet->setChecked(!conditions.application.isEmpty());
    m_application->setText(conditions.application);
    m_applicationKeepsDisplay->setChecked(conditions.applicationKeepsDisplay);
    m_lidPowerRules->setChecked(conditions.lidGuards.powerRules);
    m_lidBagSet->setChecked(conditions.lidGuards.bagMinutes > 0);
    if (conditions.lidGuards.bagMinutes > 0)
        m_lidBagMinutes->setValue(conditions.lidGuards.bagMinutes);
    m_lidThermal->setChecked(conditions.lidGuards.thermal);
    m_triggers = conditions.triggers;
    for (TriggerRow &shown : m_triggerRows)
        shown.enabled->parentWidget()->hide();
    for (const TriggerRecord &trigger : std::as_const(m_triggers)) {
        TriggerRow &shown = row(trigger);
        shown.enabled->parentWidget()->show();
        shown.enabled->setChecked(trigger.enabled);
        shown.display->setChecked(trigger.kinds & 2);
        shown.unavailable->setText(localized("사용할 수 없음: %1").arg(trigger.unavailable));
        shown.unavailable->setVisible(!trigger.unavailable.isEmpty());
        const auto number = [&trigger](const QString &key) -> std::optional<qint64> {
            bool isNumber = false;
            const qint64 value = trigger.options.value(key).toLongLong(&isNumber);
            return isNumber ? std::optional<qint64>(value) : std::nullopt;
        };
        if (shown.net) {
            const auto net = number(TriggerOptions::netKey());
            shown.net->setText(net ? TriggerOptions::rateText(*net) : QString());
            const auto cpu = number(TriggerOptions::cpuKey());
            shown.cpu->setText(cpu ? QString::number(*cpu) : QString());
            const auto settle = number(TriggerOptions::settleKey());
            shown.settle->setText(settle ? TriggerOptions::settleText(*settle) : QString());
        }
        if (shown.schedule)
            shown.schedule->setText(trigger.options.value(TriggerOptions::scheduleKey()).toString());
    }
    if (auto *title = findChild<QLabel *>(QStringLiteral("conditions.triggersTitle")))
        title->setVisible(!m_triggers.isEmpty());
    followTriggers();
    m_error->hide();
}

ConditionsDialog::TriggerRow &ConditionsDialog::row(const TriggerRecord &trigger)
{
    const auto found = m_triggerRows.find(trigger.name);
    if (found != m_triggerRows.end())
        return *found;
    const QString prefix = QStringLiteral("conditions.trigger.%1").arg(trigger.name);
    auto *box = new QWidget(this);
    auto *rows = new QVBoxLayout(box);
    rows->setContentsMargins(0, 0, 0, 0);
    TriggerRow made;
    made.enabled = new QCheckBox(ClaimTexts::triggerLabel(trigger.name), box);
    made.enabled->setObjectName(prefix);
    rows->addWidget(made.enabled);
    auto *details = new QVBoxLayout;
    details->setContentsMargins(24, 0, 0, 0);
    made.unavailable = new QLabel(box);
    made.unavailable->setObjectName(prefix + QStringLiteral(".unavailable"));
    made.unavailable->setWordWrap(true);
    details->addWidget(made.unavailable);
    const auto field = [box, details, &prefix](const QString &suffix, const QString &label, const QString &example) {
        auto *line = new QHBoxLayout;
        auto *edit = new QLineEdit(box);
        edit->setObjectName(prefix + suffix);
        edit->setPlaceholderText(example);
        line->addWidget(new QLabel(label, box));
        line->addWidget(edit);
        details->addLayout(line);
        return edit;
    };
    if (trigger.name == u"busy") {
        made.net = field(QStringLiteral(".net"), localized("네트워크 (초당 바이트):"), QStringLiteral("100k"));
        made.cpu = field(QStringLiteral(".cpu"), localized("CPU (%):"), QStringLiteral("50"));
        made.settle = field(QStringLiteral(".settle"), localized("이만큼 이어지면:"), QStringLiteral("2m"));
    }
    if (trigger.name == u"schedule")
        made.schedule = field(
            QString(QStringLiteral(".schedule")), localized("요일과 시간:"), QStringLiteral("mon-fri 09:00-18:00"));
    made.display = new QCheckBox(localized("디스플레이도 켜 두기"), box);
    made.display->setObjectName(prefix + QStringLiteral(".display"));
    details->addWidget(made.display);
    rows->addLayout(details);
    m_triggerLayout->addWidget(box);
    connect(made.enabled, &QCheckBox::toggled, this, &ConditionsDialog::followTriggers);
    return *m_triggerRows.insert(trigger.name, made);
}

void ConditionsDialog::followTriggers()
{
    for (const TriggerRecord &trigger : std::as_const(m_triggers)) {
        const auto found = m_triggerRows.constFind(trigger.name);
        if (found == m_triggerRows.cend())
            continue; // not shown yet: setConditions() is making its row
        const TriggerRow &shown = *found;
        // A trigger that cannot work here is not offered; one set before stays set.
        const bool available = trigger.unavailable.isEmpty();
        shown.enabled->setEnabled(available);
        const bool editable = available && shown.enabled->isChecked();
        for (QWidget *detail :
            std::initializer_list<QWidget *>{ shown.display, shown.net, shown.cpu, shown.settle, shown.schedule }) {
            if (detail)
                detail->setEnabled(editable);
        }
    }
}

std::optional<QString> ConditionsDialog::readOptions(const TriggerRow &shown, QVariantMap *options) const
{
    const auto read = [options](QLineEdit *edit, const QString &key, auto parse) -> std::optional<QString> {
        if (!edit)
            return std::nullopt;
        const QString text = edit->text().trimmed();
        if (text.isEmpty()) {
            options->remove(key); // the trigger's own default
            return std::nullopt;
        }
        const auto parsed = parse(text);
        if (!parsed)
            return parsed.error();
        options->insert(key, parsed.value());
        return std::nullopt;
    };
    if (auto error = read(shown.net, TriggerOptions::netKey(), TriggerOptions::parseRate))
        return error;
    if (auto error = read(shown.cpu, TriggerOptions::cpuKey(), TriggerOptions::parsePercent))
        return error;
    if (auto error = read(shown.settle, TriggerOptions::settleKey(), TriggerOptions::parseSettle))
        return error;
    if (shown.schedule) {
        const QString text = shown.schedule->text().simplified();
        if (text.isEmpty())
            options->remove(TriggerOptions::scheduleKey());
        else
            options->insert(TriggerOptions::scheduleKey(), text);
    }
    return std::nullopt;
}

void ConditionsDialog::accept()
{
    for (const TriggerRecord &trigger : std::as_const(m_triggers)) {
        QVariantMap options = trigger.options;
        if (const auto error = readOptions(m_triggerRows.value(trigger.name), &options)) {
            showError(QStringLiteral("%1: %2").arg(ClaimTexts::triggerLabel(trigger.name), *error));
            return;
        }
    }
    QDialog::accept();
}

SessionConditions ConditionsDialog::conditions() const
{
    SessionConditions conditions;
    conditions.onlyOnAC = m_onlyOnAC->isChecked();
    conditions.batteryFloor = m_batteryFloorSet->isChecked() ? m_batteryFloor->value() : 0;
    if (m_applicationSet->isChecked()) {
        conditions.application = m_application->text().trimmed();
        conditions.applicationKeepsDisplay = m_applicationKeepsDisplay->isChecked();
    }
    conditions.lidGuards.powerRules = m_lidPowerRules->isChecked();
    conditions.lidGuards.bagMinutes = m_lidBagSet->isChecked() ? m_lidBagMinutes->value() : 0;
    conditions.lidGuards.thermal = m_lidThermal->isChecked();
    for (TriggerRecord trigger : m_triggers) {
        const TriggerRow shown = m_triggerRows.value(trigger.name);
        trigger.enabled = shown.enabled->isChecked();
        // Only a trigger that is on says anything about its kinds and options.
        if (trigger.enabled) {
            trigger.kinds = shown.display->isChecked() ? 3 : 1;
            readOptions(shown, &trigger.options);
        }
        conditions.triggers.append(trigger);
    }
    return conditions;
}

void ConditionsDialog::showError(const QString &text)
{
    m_error->setText(text);
    m_error->setVisible(!text.isEmpty());
}
