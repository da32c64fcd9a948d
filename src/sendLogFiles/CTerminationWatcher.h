#pragma once

#include <functional>

// Ends the program cleanly on SIGTERM, SIGINT and SIGHUP: the signals are taken by a thread of their
// own, which runs the cleanup and ends the process with 128 plus the signal's number. Being an
// ordinary thread, the cleanup may use any library call, unlike a signal handler.
class CTerminationWatcher
{
public:
    // Must run before any other thread starts, so that every thread inherits the blocked
    // signals. False when the signals could not be taken over.
    static bool start(std::function<void()> cleanup);
};
