#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <vector>

// What one scan found, kept small: the paths, relative to the scanned root and spelled as the
// file system spells them, share one pool, and each entry adds 24 bytes to it. A folder of
// hundreds of thousands of logs costs tens of MiB this way, where a QFileInfo each costs
// hundreds. Directories and files are listed apart, each in the order the walk met them, the
// entries whose paths are valid UTF-8 before the others.
class CDirListing
{
public:
    struct TEntry
    {
        qint64 pathAt = 0;
        // The file's size where the scan asked for sizes, else 0.
        qint64 size = 0;
        quint32 pathSize = 0;
        // The type bits of st_mode, and its permission bits where the scan looked them up.
        quint32 mode = 0;
    };

    // root: the scanned folder without a trailing slash ("" for "/").
    void reset(const QByteArray& root);
    void add(bool isDirectory, const QByteArray& path, quint32 mode, qint64 size, bool decodable);
    // Moves the entries whose paths are not UTF-8 behind the others of their kind.
    void finish();
    // After finish(): a file with a UTF-8 path made since the scan, listed last among those.
    void addMade(const QByteArray& path, quint32 mode, qint64 size);

    const QByteArray& root() const { return rootPath; }
    const std::vector<TEntry>& dirs() const { return directories; }
    const std::vector<TEntry>& files() const { return plainFiles; }
    // How many entries of each kind lead their list with UTF-8 paths.
    size_t decodableDirs() const { return utf8Dirs; }
    size_t decodableFiles() const { return utf8Files; }

    QByteArray path(const TEntry& entry) const
    {
        return pool.mid(qsizetype(entry.pathAt), qsizetype(entry.pathSize));
    }
    QByteArrayView pathView(const TEntry& entry) const
    {
        return QByteArrayView(pool.constData() + entry.pathAt, qsizetype(entry.pathSize));
    }
    QByteArray filePath(const TEntry& entry) const { return rootPath + '/' + path(entry); }
    QByteArray fileName(const TEntry& entry) const;

private:
    QByteArray rootPath;
    QByteArray pool;
    std::vector<TEntry> directories;
    std::vector<TEntry> plainFiles;
    // Which entries' paths are not UTF-8, by kind, until finish() sorts them.
    std::vector<bool> rawDirs;
    std::vector<bool> rawFiles;
    size_t utf8Dirs = 0;
    size_t utf8Files = 0;
};
