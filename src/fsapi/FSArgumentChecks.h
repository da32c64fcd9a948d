#pragma once

#include "dbapi/CPathOperations.h"
#include "diagnostics/CLogRecord.h"

// Opens a file-system operation (after SY_FUNCTION): an empty path, or one longer than every
// client accepts, is logged under the operation's name and answered with false.
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
    } while (false)
