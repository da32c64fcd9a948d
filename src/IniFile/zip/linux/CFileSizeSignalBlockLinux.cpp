#include "IniFile/zip/linux/CFileSizeSignalBlockLinux.h"

#include <cerrno>
#include <ctime>

#include <pthread.h>

namespace {
sigset_t fileSizeSignal()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGXFSZ);
    return set;
}
} // namespace

CFileSizeSignalBlockLinux::CFileSizeSignalBlockLinux()
{
    const sigset_t set = fileSizeSignal();
    if (pthread_sigmask(SIG_BLOCK, &set, &previous) == 0)
        blocked = sigismember(&previous, SIGXFSZ) == 0;
}

CFileSizeSignalBlockLinux::~CFileSizeSignalBlockLinux()
{
    if (!blocked)
        return;
    const sigset_t set = fileSizeSignal();
    const timespec noWait{0, 0};
    // Failed writes past the limit left it pending; sigtimedwait fails with EAGAIN once none is.
    for (;;) {
        const int taken = sigtimedwait(&set, nullptr, &noWait);
        if (taken != SIGXFSZ && !(taken < 0 && errno == EINTR))
            break;
    }
    // With a valid "how" and set this cannot fail.
    static_cast<void>(pthread_sigmask(SIG_SETMASK, &previous, nullptr));
}
