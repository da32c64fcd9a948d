#pragma once

#include <QByteArray>
#include <QDebug>

// Builds the prefix every record of the library starts with:
// "[ <thread number> : <thread description> ] [ <file name> : <line> : <function> ]".
class CLogRecord
{
public:
    // Latin-1 bytes of the prefix for a record written at file:line inside function.
    static QByteArray prefix(const char* file, int line, const char* function);
};

// Records of an instrumented function (one that opened with SY_FUNCTION) name it through
// its call-site record; the *_AT forms name the function explicitly.
#define SY_LOG_AT(stream, function)                                                                \
    stream().noquote() << QLatin1String(CLogRecord::prefix(__FILE__, __LINE__, function))
#define SY_DEBUG_AT(function) SY_LOG_AT(qDebug, function)
#define SY_WARNING_AT(function) SY_LOG_AT(qWarning, function)
#define SY_CRITICAL_AT(function) SY_LOG_AT(qCritical, function)

#define SY_DEBUG SY_DEBUG_AT(syCallSite.function)
#define SY_WARNING SY_WARNING_AT(syCallSite.function)
#define SY_CRITICAL SY_CRITICAL_AT(syCallSite.function)
