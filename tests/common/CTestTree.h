#pragma once

#include <QByteArray>
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
    static QString describe(const QString& root);
    static QByteArray pattern(qsizetype size);
    static QByteArray content(const QString& path);
    static bool write(const QString& path, const QByteArray& content);
};
