#pragma once

#include "LidBridgeExport.h"
#include "OwnershipMarker.h"

#include <sys/types.h>

// The ownership marker as an empty regular file owned by ownerID. Nothing
// counts as the marker that is not exactly that: not a link, not a directory,
// not another owner's file.
class LIDBRIDGE_EXPORT FileMarker : public OwnershipMarker
{
public:
    FileMarker(QString path, uid_t ownerID);

    const QString &path() const { return m_path; }
    uid_t ownerID() const { return m_ownerID; }

    bool exists() const override;
    Expected<void, QString> create() override;
    Expected<void, QString> remove() override;

private:
    QString m_path;
    uid_t m_ownerID;
};
