#pragma once

#include <QString>

// What placing the finished archive relies on beyond the file operations: which folders are one
// folder, and that a copy on another disk holds exactly the archive that was checked. The same
// folder can be reached by two paths (a bind mount, a link), so folders are compared by their
// device and inode, never by their paths. Each platform provides the definitions.
class CPlacedArchive
{
public:
    // True when both paths name the same folder (or file) of the same file system.
    static bool sameObject(const QString& first, const QString& second);
    // Makes copy durable (the file, then its folder) and reads it back from the storage, not
    // the system's cache, comparing it byte for byte with original. copy must be another file
    // than original. On failure, error holds the cause in plain words.
    static bool confirmCopy(const QString& original, const QString& copy, QString& error);
};
