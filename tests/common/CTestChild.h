#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// Runs one test function of the running test program in a child process, for cases that end
// the process or need its real standard streams. The child sees SY_TEST_CHILD and the given
// variables, and works in a temporary folder, so that a core file stays out of the way.
class CTestChild
{
public:
    static bool isChild() { return qEnvironmentVariableIsSet("SY_TEST_CHILD"); }

    // testFunction may carry a data tag ("function:tag"). Returns false if the child did not
    // start or did not end within a bounded wait.
    bool run(const QString& testFunction, const QProcessEnvironment& variables = {},
             const QByteArray& input = {});

    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
