#include "common/CTestChild.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

bool CTestChild::run(const char* testCase, const QStringList& wrapper)
{
    QTemporaryDir folder;
    if (!folder.isValid())
        return false;
    const QString outPath = folder.filePath(QStringLiteral("out"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SY_TEST_CHILD"), QStringLiteral("1"));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(folder.path());
    child.setStandardOutputFile(outPath);
    child.setStandardErrorFile(outPath, QIODevice::Append);
    QStringList command = wrapper;
    command << QCoreApplication::applicationFilePath() << QLatin1String(testCase);
    child.start(command.takeFirst(), command);
    const bool ended = child.waitForFinished(120000);
    if (!ended) {
        child.kill();
        child.waitForFinished(10000);
    }
    const bool passed =
        ended && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    if (!passed) {
        QFile out(outPath);
        if (out.open(QIODevice::ReadOnly))
            qInfo("child output (its end):\n%s", out.readAll().right(6000).constData());
    }
    return passed;
}

bool CTestChild::isChild()
{
    return qEnvironmentVariableIsSet("SY_TEST_CHILD");
}
