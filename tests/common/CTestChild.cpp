#include "common/CTestChild.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

const char namespaceVariable[] = "SY_TEST_MOUNT_NAMESPACE";

void showEnd(const QByteArray& output)
{
    qInfo("child output (its end):\n%s", output.right(6000).constData());
}

} // namespace

bool CTestChild::run(const char* testCase)
{
    const CChildOutcome result = runCase(QLatin1String(testCase), childEnvironment());
    if (!result.passed)
        showEnd(result.output);
    return result.passed;
}

bool CTestChild::inMountNamespace()
{
    if (qEnvironmentVariableIsSet(namespaceVariable))
        return true;
    if (::geteuid() != 0) {
        QTest::qSkip("mounting needs root", __FILE__, __LINE__);
        return false;
    }
    const CChildOutcome result = runCase(currentCase(), childEnvironment(namespaceVariable),
                                         {"unshare", "-m", "--propagation", "private"});
    const qsizetype skipped = result.output.indexOf("SKIP   :");
    // In a chroot, or where the root is no mount point, unshare cannot make the mounts private.
    if (!result.started || !result.output.contains("Start testing")) {
        QTest::qSkip("no private mount namespace here", __FILE__, __LINE__);
    } else if (skipped >= 0) {
        const QByteArray line =
            result.output.mid(skipped, result.output.indexOf('\n', skipped) - skipped);
        QTest::qSkip(line.constData(), __FILE__, __LINE__);
    } else if (!result.passed) {
        showEnd(result.output);
        QTest::qFail("the case failed in its mount namespace", __FILE__, __LINE__);
    }
    return false;
}

QProcessEnvironment CTestChild::childEnvironment(const char* marker)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(childVariable), QStringLiteral("1"));
    if (marker)
        environment.insert(QLatin1String(marker), QStringLiteral("1"));
    return environment;
}

QString CTestChild::currentCase()
{
    QString testCase = QLatin1String(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        testCase += QLatin1Char(':') + QLatin1String(QTest::currentDataTag());
    return testCase;
}

CChildOutcome CTestChild::runCase(const QString& testCase, const QProcessEnvironment& environment,
                                  const QStringList& wrapper, int timeout, const QByteArray& input)
{
    CChildOutcome result;
    QTemporaryDir folder;
    if (!folder.isValid())
        return result;
    const QString outPath = folder.filePath(QStringLiteral("out"));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(folder.path());
    child.setStandardOutputFile(outPath);
    child.setStandardErrorFile(outPath, QIODevice::Append);
    QStringList command = wrapper;
    command << QCoreApplication::applicationFilePath() << testCase;
    child.start(command.takeFirst(), command);
    result.started = child.waitForStarted(30000);
    if (result.started && !input.isNull()) {
        child.write(input);
        child.closeWriteChannel();
    }
    const bool ended = result.started && child.waitForFinished(timeout);
    if (result.started && !ended) {
        child.kill();
        child.waitForFinished(10000);
    }
    result.killed = ended && child.exitStatus() == QProcess::CrashExit;
    result.passed = ended && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    QFile out(outPath);
    if (out.open(QIODevice::ReadOnly))
        result.output = out.readAll();
    return result;
}
