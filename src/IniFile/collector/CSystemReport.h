#pragma once

#include <QByteArray>
#include <QString>

// The text of the archive's "system.txt", which tells support what machine the logs came from:
// the log sender's and its libraries' versions, the system, the desktop, what was packed and the
// room on the volumes that matter. It names no user, host, address or path.
class CSystemReport
{
public:
    struct TTally
    {
        qint64 files = 0;
        qint64 bytes = 0;
    };
    // The regular files below folder, links not followed, and their size.
    static TTally tally(const QString& folder);

    // packed: what the log folder holds; leftOut: what could not be staged into it.
    static QByteArray text(const TTally& packed, const TTally& leftOut, const QString& logsFolder,
                           const QString& spacesFolder, const QString& desktop);
};
