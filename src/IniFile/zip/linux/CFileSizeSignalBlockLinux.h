#pragma once

#include <signal.h>

// Keeps SIGXFSZ blocked on the calling thread while it lives, so that a write beyond the
// process's file-size limit fails with EFBIG like any other write error instead of ending the
// process. A SIGXFSZ raised meanwhile is taken off the thread before the old mask returns.
// Create and destroy it on the same thread.
class CFileSizeSignalBlockLinux
{
public:
    CFileSizeSignalBlockLinux();
    ~CFileSizeSignalBlockLinux();
    CFileSizeSignalBlockLinux(const CFileSizeSignalBlockLinux&) = delete;
    CFileSizeSignalBlockLinux& operator=(const CFileSizeSignalBlockLinux&) = delete;

private:
    sigset_t previous;
    // False when the signal was blocked already (its pending ones are the caller's) or the mask
    // could not be changed.
    bool blocked = false;
};
