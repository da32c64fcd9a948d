#pragma once

#include <QStringList>

// Runs one case of the current test program again in a child process, for what can only be
// seen from outside: a crash, a sanitizer report, the end of the process.
class CTestChild
{
public:
    // Runs this program with only testCase, in a child marked as such, in a temporary working
    // folder; true when the child ended normally with code 0. Its output is shown on failure.
    // wrapper, when given, is a command the child is started under (unshare -m, say).
    static bool run(const char* testCase, const QStringList& wrapper = QStringList());
    // True inside such a child.
    static bool isChild();
};
