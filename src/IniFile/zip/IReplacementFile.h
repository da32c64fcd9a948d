#pragma once

#include <QString>

#include <memory>

class QFile;

// The new version of a file, written beside it under a temporary name of its own while the
// file keeps its old version to the end: commit() gives it the file's name in one step, and
// anything short of that (a failure, a kill) leaves the old version as it was. What a killed
// writer left is removed by the next one made in that folder. Each platform provides create().
class IReplacementFile
{
public:
    // Removes the new version unless it was committed.
    virtual ~IReplacementFile() = default;

    // Opens file for reading and writing on a new, empty file beside target, with target's
    // permission bits. Nothing when that fails (error says why).
    static std::unique_ptr<IReplacementFile> create(const QString& target, QFile& file,
                                                    QString& error);
    // file has been written, synced and closed: it replaces target, and the name is synced too.
    [[nodiscard]] virtual bool commit(QString& error) = 0;
};
