#include "common/CTestChild.h"

#include <QCoreApplication>
#include <QTemporaryDir>

bool CTestChild::run(const QString& testFunction, const QProcessEnvironment& variables,
                     const QByteArray& input)
{
    const QTemporaryDir workDir;
    if (!workDir.isValid())
        return false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(variables);
    environment.insert(QStringLiteral("SY_TEST_CHILD"), QStringLiteral("1"));
    // A crash the case expects needs no debugger stack dump.
    environment.insert(QStringLiteral("QTEST_DISABLE_STACK_DUMP"), QStringLiteral("1"));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(workDir.path());
    child.start(QCoreApplication::applicationFilePath(), {testFunction});
    if (!child.waitForStarted(10000))
        return false;
    child.write(input);
    child.closeWriteChannel();
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished(10000);
        return false;
    }
    exitStatus = child.exitStatus();
    exitCode = child.exitCode();
    out = child.readAllStandardOutput();
    err = child.readAllStandardError();
    return true;
}
