#include "sendLogFiles/CTerminationWatcher.h"

#include <system_error>
#include <thread>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

bool CTerminationWatcher::start(std::function<void()> cleanup)
{
    sigset_t signals;
    // SIGHUP comes when the terminal the program was started from is closed.
    if (::sigemptyset(&signals) != 0 || ::sigaddset(&signals, SIGTERM) != 0 ||
        ::sigaddset(&signals, SIGINT) != 0 || ::sigaddset(&signals, SIGHUP) != 0)
        return false;
    if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0)
        return false;
    try {
        std::thread([signals, cleanup = std::move(cleanup)] {
            int received = 0;
            while (::sigwait(&signals, &received) != 0) {
            }
            cleanup();
            // exit() would run the destructors of objects the main thread is still using.
            ::_exit(128 + received);
        }).detach();
    } catch (const std::system_error&) {
        ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        return false;
    }
    return true;
}
