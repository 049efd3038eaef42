#include "ConditionsDialog.h"

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
    m_error->hide();
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
    return conditions;
}

void ConditionsDialog::showError(const QString &text)
{
    m_error->setText(text);
    m_error->setVisible(!text.isEmpty());
}
