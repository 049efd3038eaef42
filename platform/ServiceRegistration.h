#pragma once

#include "Expected.h"

#include <QString>

// A program registered with the desktop to start on its own: the agent as
// a login item, the helper as a system service.
class ServiceRegistration
{
public:
    enum class Status {
        notRegistered = 0,
        enabled = 1,
        requiresApproval = 2,
        notFound = 3,
    };

    virtual ~ServiceRegistration() = default;

    virtual Status status() const = 0;
    // A failure carries the text shown to the user.
    virtual Expected<void, QString> registerService() = 0;
};
