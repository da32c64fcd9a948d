#include "diagnostics/CLogRecord.h"

#include "threading/threads/CBasicThread.h"

#include <QDir>
#include <QString>
#include <QThread>

QByteArray CLogRecord::prefix(const char* file, int line, const char* function)
{
    const CBasicThread* thread = qobject_cast<const CBasicThread*>(QThread::currentThread());
    const QString number = thread ? QString::number(thread->threadNumber()) : QStringLiteral("-1");
    const QString description = thread ? thread->description() : QStringLiteral("MainThread");
    return QStringLiteral("[ %1 : %2 ] [ %3 : %4 : %5 ]")
        .arg(number, description, fileName(file), QString::number(line),
             QString::fromLatin1(function))
        .toLatin1();
}

QString CLogRecord::fileName(const char* file)
{
    const QString path = QString::fromLocal8Bit(file);
    return path.split(QDir::separator()).last();
}
