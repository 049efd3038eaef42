#include "InhibitBackend.h"

QCoro::Task<std::optional<bool>> InhibitBackend::isListed(AssertionKind)
{
    co_return std::nullopt;
}
