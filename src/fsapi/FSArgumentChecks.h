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

} // namespace FSArgumentChecks

// Opens a file-system operation (after SY_FUNCTION): an empty path, one longer than every
// client accepts, or one with a null character, is logged under the operation's name and
// answered with false.
#define SY_FS_CHECK_PATH(path, emptyText)                                                          \
    do {                                                                                           \
        if ((path).isEmpty()) {                                                                    \
            SY_CRITICAL << emptyText;                                                              \
            return false;                                                                          \
        }                                                                                          \
        if ((path).size() > CPathOperations::maxPathLength) {                                      \
            SY_CRITICAL << "PathTooLong" << (path) << (path).size();                               \
            return false;                                                                          \
        }                                                                                          \
        if (FSArgumentChecks::hasNullCharacter(path)) {                                            \
            SY_CRITICAL << "Null character in path" << FSArgumentChecks::printable(path);          \
            return false;                                                                          \
        }                                                                                          \
    } while (false)
