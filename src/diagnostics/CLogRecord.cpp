#include "diagnostics/CLogRecord.h"

#include "threading/threads/CBasicThread.h"

#include <QThread>

#include <cstring>

// Put together as bytes: the zipper writes a record for every file it masks, and formatting
// through QString cost more than the rest of the record.
QByteArray CLogRecord::prefix(const char* file, int line, const char* function)
{
    const CBasicThread* thread = qobject_cast<const CBasicThread*>(QThread::currentThread());
    const char* name = std::strrchr(file, '/');
    QByteArray prefix;
    prefix.reserve(64);
    prefix += "[ ";
    prefix += thread ? QByteArray::number(thread->threadNumber()) : QByteArrayLiteral("-1");
    prefix += " : ";
    prefix += thread ? thread->description().toLatin1() : QByteArrayLiteral("MainThread");
    prefix += " ] [ ";
    prefix += name ? name + 1 : file;
    prefix += " : ";
    prefix += QByteArray::number(line);
    prefix += " : ";
    prefix += function;
    prefix += " ]";
    return prefix;
}
