#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

struct CChildOutcome
{
    bool started = false;
    // Ended by a signal.
    bool killed = false;
    // Ended normally with code 0.
    bool passed = false;
    QByteArray output;
};

// Runs one case of the current test program again in a child process, for what can only be
// seen from outside: a crash, a sanitizer report, the end of the process; or for what must not
// be seen outside: mounts.
class CTestChild
{
public:
    // Set in the environment of such a child.
    static constexpr const char* childVariable = "SY_TEST_CHILD";
    // Runs this program with only testCase, in a child marked as such, in a temporary working
    // folder; true when the child ended normally with code 0. Its output is shown on failure.
    static bool run(const char* testCase);
    // True inside such a child.
    static bool isChild() { return qEnvironmentVariableIsSet(childVariable); }
    // Runs the current case (with its data row) again as root in a private mount namespace, so
    // that whatever it mounts vanishes with the child, and makes the child's result this case's:
    // passed, failed, or skipped (no root, no private mount namespace here, or the child
    // skipped). Returns true inside that child, where the case goes on; false in the test
    // itself, which then returns at once.
    static bool inMountNamespace();
    // Runs mount with arguments; true when it succeeded.
    static bool mount(const QStringList& arguments)
    {
        return QProcess::execute(QStringLiteral("mount"), arguments) == 0;
    }
    // The system's environment, marked as a child's, and with marker set where given.
    static QProcessEnvironment childEnvironment(const char* marker = nullptr);
    // The current test function, with its data row, as this program's argument names it.
    static QString currentCase();
    // Runs this program with only testCase, behind wrapper (a command and its arguments), with
    // environment, in a temporary working folder, input given on its standard input; one that
    // does not end within timeout ms is killed.
    static CChildOutcome runCase(const QString& testCase, const QProcessEnvironment& environment,
                                 const QStringList& wrapper = {}, int timeout = 300000,
                                 const QByteArray& input = {});
};

// Goes on with the current case only inside its private mount namespace (see inMountNamespace);
// the test itself returns.
#define SY_IN_MOUNT_NAMESPACE()                                                                    \
    if (!CTestChild::inMountNamespace())                                                           \
    return
