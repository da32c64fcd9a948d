#include "diagnostics/CDebugBreak.h"

#include <QByteArray>
#include <QFile>

#include <csignal>

bool CDebugBreak::isDebuggerAttached()
{
    // Linux names the tracing process, if any, in the "TracerPid:" line.
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    const QByteArrayList lines = status.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("TracerPid:"))
            return line.mid(10).trimmed().toInt() != 0;
    }
    return false;
}

void CDebugBreak::breakIfDebugged()
{
    if (isDebuggerAttached())
        std::raise(SIGTRAP);
}
