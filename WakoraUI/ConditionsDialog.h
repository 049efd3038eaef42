#pragma once

#include "SessionConditions.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

// "깨워 둘 조건": edits the agent's standing conditions. It only gathers what
// the user chose; whoever opened it sends it to the agent and shows a refusal
// with showError().
class ConditionsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ConditionsDialog(QWidget *parent = nullptr);

    void setConditions(const SessionConditions &conditions);
    SessionConditions conditions() const;
    // Shows why the last change did not take, and keeps the dialog open.
    void showError(const QString &text);

private:
    QCheckBox *m_onlyOnAC;
    QCheckBox *m_batteryFloorSet;
    QSpinBox *m_batteryFloor;
    QCheckBox *m_applicationSet;
    QLineEdit *m_application;
    QCheckBox *m_applicationKeepsDisplay;
    QCheckBox *m_lidPowerRules;
    QCheckBox *m_lidBagSet;
    QSpinBox *m_lidBagMinutes;
    QCheckBox *m_lidThermal;
    QLabel *m_error;
};
