#pragma once

#include "IniFile/collector/CFileStamp.h"

#include <QMap>
#include <QString>

class IFSOperations;

// The logs of a folder that is about to be packed, each with the stamp it had before the
// zipper opened it. Once the archive is written, removes from the folder exactly the logs that
// the archive holds as they were packed: a log that came in meanwhile, grew, was replaced or is
// not in the archive is kept, and so is every log when the archive is no longer the file that
// was read back.
class CPackedLogs
{
public:
    explicit CPackedLogs(const QString& folder);

    // False when a log the archive holds could not be removed, or the archive could not be
    // read back as the one file at its name (then nothing is removed); each with a record.
    [[nodiscard]] bool removeFrom(const QString& archive, IFSOperations& fsOperations) const;

private:
    struct TLog
    {
        QString path;
        CFileStamp stamp;
    };

    QString folder;
    // By entry name: the path below the folder as UTF-8, as the zipper names its entries.
    QMap<QByteArray, TLog> logs;
};
