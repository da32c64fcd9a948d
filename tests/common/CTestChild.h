#pragma once

#include <QStringList>

// Runs one case of the current test program again in a child process, for what can only be
// seen from outside: a crash, a sanitizer report, the end of the process; or for what must not
// be seen outside: mounts.
class CTestChild
{
public:
    // Runs this program with only testCase, in a child marked as such, in a temporary working
    // folder; true when the child ended normally with code 0. Its output is shown on failure.
    static bool run(const char* testCase);
    // True inside such a child.
    static bool isChild();
    // Runs the current case (with its data row) again as root in a private mount namespace, so
    // that whatever it mounts vanishes with the child, and makes the child's result this case's:
    // passed, failed, or skipped (no root, no private mount namespace here, or the child
    // skipped). Returns true inside that child, where the case goes on; false in the test
    // itself, which then returns at once.
    static bool inMountNamespace();
    // Runs mount with arguments; true when it succeeded.
    static bool mount(const QStringList& arguments);
};
