#pragma once

#include <optional>

// Tells the loss of the current connection from a late notice about an older
// one, and whether the loss must be announced: only a link that has worked
// since its last loss is worth telling anyone about.
template <typename T> class ConnectionLossPolicy
{
public:
    enum class Outcome {
        stale, // not the current connection: ignore the notice
        clearSilently, // the current one is gone and never worked
        clearAndNotify, // the current one is gone after it had worked
    };

    void adopt(T identity) { m_current = std::move(identity); }
    void markWorking() { m_hasWorked = true; }

    Outcome lost(const T &identity)
    {
        if (!m_current || !(*m_current == identity))
            return Outcome::stale;
        m_current.reset();
        const Outcome outcome = m_hasWorked ? Outcome::clearAndNotify : Outcome::clearSilently;
        m_hasWorked = false;
        return outcome;
    }

    const std::optional<T> &current() const { return m_current; }
    bool hasWorked() const { return m_hasWorked; }

private:
    std::optional<T> m_current;
    bool m_hasWorked = false;
};
