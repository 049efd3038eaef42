#pragma once

#include "SessionConditions.h"

#include <optional>

#include <QDialog>
#include <QHash>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QVBoxLayout;

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

    // Checks what was typed for the triggers before the dialog closes.
    void accept() override;

private:
    // The widgets of one trigger the agent offers, made when it is first shown.
    struct TriggerRow {
        QCheckBox *enabled = nullptr;
        QCheckBox *display = nullptr;
        QLabel *unavailable = nullptr;
        QLineEdit *net = nullptr; // busy
        QLineEdit *cpu = nullptr; // busy
        QLineEdit *settle = nullptr; // busy
        QLineEdit *schedule = nullptr; // schedule
    };
    TriggerRow &row(const TriggerRecord &trigger);
    void followTriggers();
    // The trigger's options as typed; the error's text when they make none.
    std::optional<QString> readOptions(const TriggerRow &row, QVariantMap *options) const;

    QVBoxLayout *m_triggerLayout;
    QHash<QString, TriggerRow> m_triggerRows;
    QList<TriggerRecord> m_triggers; // as last given

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
