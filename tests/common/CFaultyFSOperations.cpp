#include "common/CFaultyFSOperations.h"

#include "common/CTestTree.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/CLinuxFSLock.h"

#include <QTest>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

qint64 CFaultyFSOperations::copyChunk(int from, int to, qint64 length)
{
    if (crashMidCopy && ::lseek(to, 0, SEEK_CUR) > 0)
        ::raise(SIGKILL);
    if (diskFull && ::lseek(to, 0, SEEK_CUR) > 0) {
        errno = ENOSPC;
        return -1;
    }
    return CLinuxFSOperations::copyChunk(from, to, diskFull || crashMidCopy ? 4096 : length);
}

int CFaultyFSOperations::openTemporary(const QByteArray& folder)
{
    if (!noUnnamedFiles)
        return CLinuxFSOperations::openTemporary(folder);
    errno = EOPNOTSUPP;
    return -1;
}

bool CFaultyFSOperations::inject(const QString& call)
{
    SY_FUNCTION("CFaultyFSOperations::inject");
    const auto found = faults.constFind(call);
    if (found != faults.constEnd() && *found == Fault::Throw)
        SY_THROW(Exceptions::FileSystemException, QStringLiteral("injected fault"));
    return found != faults.constEnd();
}

QString CFSOperationsTest::sys(int error, const char* exceptionClass)
{
    return QString::fromLatin1(exceptionClass) + " | " + CLinuxFSLock::getSystemErrorMsg(error) +
           " - system error code: " + QString::number(error);
}

void CFSOperationsTest::initTestCase()
{
    // Modes of new objects are compared in the trees.
    ::umask(022);
}

void CFSOperationsTest::init()
{
    CEnvironmentTest::init();
    root = environment->makeDir(QStringLiteral("files"));
}

void CFSOperationsTest::cleanup()
{
    CTestTree::unlock(root);
    environment.reset();
}
