#pragma once

#include "dbapi/CPathOperations.h"
#include "diagnostics/CLogRecord.h"

#include <QString>

namespace FSArgumentChecks {

// The system cuts a path short at a null character, so such a path names another object.
inline bool hasNullCharacter(const QString& path)
{
    return path.contains(QChar(u'\0'));
}

// The path as a log line can show it, the null characters written as "\0".
inline QString printable(const QString& path)
{
    return QString(path).replace(QChar(u'\0'), QStringLiteral("\\0"));
}

// Whether the platform takes path whole: within its path limit, every name within its name
// limit, no null character.
inline bool fitsPlatform(const QString& path)
{
    return CPathOperations::platformLength(path) <= CPathOperations::maxPathLength &&
           CPathOperations::longestNameLength(path) <= CPathOperations::maxNameLength &&
           !hasNullCharacter(path);
}

} // namespace FSArgumentChecks

// Opens a file-system operation (after SY_FUNCTION): an empty path, one longer than the platform
// takes or holding a longer name, or one with a null character, is logged under the operation's
// name and answered with false.
#define SY_FS_CHECK_PATH(path, emptyText)                                                          \
    do {                                                                                           \
        if ((path).isEmpty()) {                                                                    \
            SY_CRITICAL << emptyText;                                                              \
            return false;                                                                          \
        }                                                                                          \
        if (const qsizetype syLength = CPathOperations::platformLength(path);                      \
            syLength > CPathOperations::maxPathLength) {                                           \
            SY_CRITICAL << "PathTooLong" << (path) << syLength;                                    \
            return false;                                                                          \
        }                                                                                          \
        if (const qsizetype syLength = CPathOperations::longestNameLength(path);                   \
            syLength > CPathOperations::maxNameLength) {                                           \
            SY_CRITICAL << "PathTooLong" << (path) << "name" << syLength;                          \
            return false;                                                                          \
        }                                                                                          \
        if (FSArgumentChecks::hasNullCharacter(path)) {                                            \
            SY_CRITICAL << "Null character in path" << FSArgumentChecks::printable(path);          \
            return false;                                                                          \
        }                                                                                          \
    } while (false)
