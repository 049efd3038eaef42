#pragma once

#include <QString>

#include <optional>

// One entry of a desktop's own inhibitor list. These lists know an
// application by its id or name, never by its process.
struct DesktopInhibitor {
    enum class Registry { gnomeSession, kde, xfce };

    Registry registry = Registry::gnomeSession;
    // gnome-session's app id, or the application name given to KDE's or
    // Xfce's power manager; may be empty.
    QString application;
    QString type; // "sleep", "idle" or "sleep:idle"; for KDE, what is in effect (see kdeTypeInEffect)
    QString reason; // empty when the list has none (Xfce's)

    bool operator==(const DesktopInhibitor &) const = default;

    // The type of a gnome-session inhibitor from its flags: suspending (4)
    // is "sleep", going idle (8) "idle", both "sleep:idle". Absent for
    // flags with neither (logging out, switching users, automounting),
    // which do not keep the machine awake.
    static std::optional<QString> gnomeSessionType(uint flags);

    // What PowerDevil's inhibitions hold off, from its HasInhibition answers
    // for suspending (1) and for the screen (4): "sleep", "sleep:idle" (an
    // inhibition of the screen holds off suspending too), or empty for
    // neither. Its list does not say which entry holds which, so every entry
    // starts with all that is in effect.
    static QString kdeTypeInEffect(bool suspendHeld, bool screenHeld);

    // "sleep", "idle", "sleep:idle", or empty for neither.
    static QString typeOf(bool suspend, bool idle);
};
