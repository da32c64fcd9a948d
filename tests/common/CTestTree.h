#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A folder's whole content as one line of text, to set it up and to compare it byte for byte
// after an operation. Entries are separated by ";" and sorted: "name/" a folder, "name=content"
// a file, "name->target" a symbolic link; "@mode" (octal) follows when the mode is not 644 for
// a file or 755 for a folder. A content "*N" stands for pattern(N); "%R" for the root folder.
class CTestTree
{
public:
    // Creates the entries below root (which ends with "/"), parents first.
    static bool make(const QString& root, const QString& tree);
    // With stamps, each entry's size and modification time follow, and a file's type and mode
    // stand for its content: nothing is opened, so a FIFO among them does not block it.
    static QString describe(const QString& root, bool stamps = false);
    static QByteArray pattern(qsizetype size);
    static QByteArray content(const QString& path);
    static bool write(const QString& path, const QByteArray& content);
    // Data that does not compress.
    static QByteArray noise(qsizetype size);
    // base followed by fill repeated up to exactly bytes bytes of UTF-8 in all, padded with "a" to
    // land on the byte; with folders, cut by "/" into names within the system's 255 bytes.
    static QString ofBytes(const QString& base, qsizetype bytes, const QString& fill,
                           bool folders = true);
    // Fills the file system of folder with the file folder/filler, then frees leave bytes of it.
    static bool fill(const QString& folder, qint64 leave);
    // Creates files of ten bytes ("name") and folders ("name/") below root from paths given as
    // bytes: names that are not UTF-8 and paths longer than the system opens can be made.
    static bool makeByName(const QString& root, const QList<QByteArray>& paths);
    // Removes the tree at path, however long its paths.
    static void removeByName(const QString& path);
    // Gives the entries below root (not through links) their owner's permissions back, so that
    // a case that took them away leaves a folder that can be removed.
    static void unlock(const QString& root);
};
