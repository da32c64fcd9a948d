#pragma once

// The debugger break that an assertion site executes when asked to debug.
class CDebugBreak
{
public:
    // Stops in the attached debugger; without one, the program simply goes on, since an
    // unhandled trap would end a user's process for a choice meant for developers.
    static void breakIfDebugged();
    static bool isDebuggerAttached();
};
