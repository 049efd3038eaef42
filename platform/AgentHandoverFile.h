#pragma once

#include "AgentHandoverState.h"
#include "Expected.h"

#include <QString>

#include <chrono>
#include <optional>

// The file through which an agent hands its state to its successor:
// written atomically (a new file, 0600, renamed into place) and taken
// (read, then removed) by the successor. Only a regular file of the user's
// own, readable by nobody else and written in the last two minutes, is
// taken; anything else is ignored, and a stale file of ours removed.
class AgentHandoverFile
{
public:
    static constexpr std::chrono::seconds freshness{ 120 };

    explicit AgentHandoverFile(QString path);

    // wakora-agent-handover.json in $XDG_RUNTIME_DIR (the user's own folder,
    // emptied at logout); empty when there is no such folder.
    static QString defaultPath();
    const QString &path() const { return m_path; }

    Expected<void, QString> write(const AgentHandoverState &state) const;
    // The state, once, when the file is there and may be trusted; `why`
    // says why not otherwise (empty when there simply is no file). Of two
    // agents taking it at once, only the one whose removal succeeds gets it.
    std::optional<AgentHandoverState> take(QString *why = nullptr) const;
    // Removes the file if it is there and ours (a hand-over that failed).
    void discard() const;

private:
    QString m_path;
};
