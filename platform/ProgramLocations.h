#pragma once

#include <QString>

// Where Wakora's programs live under one prefix. "The agent of the same
// prefix" is how each program finds, launches and admits its peers; the
// build tree mirrors the install layout, so this holds there too.
class ProgramLocations
{
public:
    explicit ProgramLocations(QString prefix);

    // The prefix of the running program, from its own location:
    // <prefix>/bin/<program> or <prefix>/libexec/wakora/<program>.
    static ProgramLocations ofThisProgram();
    static QString prefixOf(const QString &programDirectory);

    const QString &prefix() const { return m_prefix; }
    QString mainApplication() const; // bin/Wakora
    QString commandLine() const; // bin/wakora
    QString agent() const; // libexec/wakora/WakoraMenuBar
    QString helper() const; // libexec/wakora/wakora_helper
    QString pmset() const; // libexec/wakora/wakora-pmset

private:
    QString m_prefix;
};
