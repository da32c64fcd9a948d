#include "dbapi/CPathOperations.h"

#include <QFile>

#include <algorithm>

#include <linux/limits.h>

// PATH_MAX counts the terminating zero, NAME_MAX does not. Linux keeps no room for a name in a
// directory's path: a directory may be as long as any path.
const int CPathOperations::maxPathLength = PATH_MAX - 1;
const int CPathOperations::maxDirectoryLength = PATH_MAX - 1;
const int CPathOperations::maxNameLength = NAME_MAX;

qsizetype CPathOperations::platformLength(const QString& text)
{
    return QFile::encodeName(text).size();
}

qsizetype CPathOperations::longestNameLength(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    qsizetype longest = 0;
    qsizetype start = 0;
    while (start <= bytes.size()) {
        qsizetype end = bytes.indexOf('/', start);
        if (end < 0)
            end = bytes.size();
        longest = std::max(longest, end - start);
        start = end + 1;
    }
    return longest;
}
