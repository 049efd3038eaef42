#pragma once

#include "SleepDisabledSetting.h"

#include <QStringList>

// The system-wide sleep-disabled setting through the power-management
// command. Each call runs the command to its end and blocks while it runs,
// so the helper calls it from its work thread, never from its event loop.
class PmsetSetting : public SleepDisabledSetting
{
public:
    // leadingArguments go before the command's own (tests move its
    // configuration directory with them).
    explicit PmsetSetting(QString program, QStringList leadingArguments = {});

    Expected<bool, QString> read() override;
    Expected<void, QString> write(bool disabled) override;

    // Runs the command; its standard output, or the failure's text.
    Expected<QString, QString> run(const QStringList &arguments) const;

private:
    QString m_program;
    QStringList m_leadingArguments;
};
