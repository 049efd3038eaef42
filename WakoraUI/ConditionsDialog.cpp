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
    };
    connect(m_batteryFloorSet, &QCheckBox::toggled, this, follow);
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
    return conditions;
}

void ConditionsDialog::showError(const QString &text)
{
    m_error->setText(text);
    m_error->setVisible(!text.isEmpty());
}
