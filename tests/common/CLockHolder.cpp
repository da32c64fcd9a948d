#include "common/CLockHolder.h"

#include "fsapi/linux/CLinuxFSLock.h"

#include <QCoreApplication>
#include <QFile>
#include <QLockFile>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

// In the second process the lock is taken before main(), which never runs there.
const bool holderProcess = [] {
    const QByteArray kind = qgetenv("SY_TEST_HOLD_LOCK");
    if (kind.isEmpty())
        return false;
    const QString path = QFile::decodeName(qgetenv("SY_TEST_HOLD_PATH"));
    CLinuxFSLock lock;
    QLockFile lockFile(path);
    const bool locked = kind == "exclusive"   ? lock.getExclusiveLock(path)
                        : kind == "write"     ? lock.getWriteLock(path)
                        : kind == "readWrite" ? lock.getReadWriteLock(path)
                        : kind == "QLockFile" ? lockFile.tryLock(30000)
                                              : lock.getDeleteLock(path);
    std::printf(locked ? "locked\n" : "failed\n");
    std::fflush(stdout);
    char byte;
    while (::read(0, &byte, 1) > 0) {
    }
    std::_Exit(0);
}();

} // namespace

CLockHolder::CLockHolder(const QString& path, const QString& kind)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SY_TEST_HOLD_LOCK"), kind);
    environment.insert(QStringLiteral("SY_TEST_HOLD_PATH"), path);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), {});
    if (process.waitForStarted(30000)) {
        while (!process.canReadLine() && process.waitForReadyRead(30000)) {
        }
    }
    locked = process.readLine().trimmed() == "locked";
}

void CLockHolder::release()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished(30000);
}
