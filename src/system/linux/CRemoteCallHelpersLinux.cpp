#include "system/linux/CRemoteCallHelpersLinux.h"

#include <system_error>
#include <thread>

CRemoteCallHelpersLinux& CRemoteCallHelpersLinux::instance()
{
    static CRemoteCallHelpersLinux* const helpers = new CRemoteCallHelpersLinux;
    return *helpers;
}

int CRemoteCallHelpersLinux::startableKeys() const
{
    std::set<int> keys;
    for (const auto& task : queue) {
        if (busy.count(task->key) == 0)
            keys.insert(task->key);
    }
    return int(keys.size());
}

void CRemoteCallHelpersLinux::start()
{
    try {
        std::thread([this] { serve(); }).detach();
        ++helpers;
    } catch (const std::system_error&) {
        // The task waits for a helper that is running, until its deadline.
    }
}

void CRemoteCallHelpersLinux::serve()
{
    std::unique_lock<std::mutex> locker(mutex);
    for (;;) {
        const auto next = std::find_if(queue.begin(), queue.end(), [this](const auto& task) {
            return busy.count(task->key) == 0;
        });
        if (next == queue.end()) {
            ++idle;
            const bool woken =
                wake.wait_for(locker, idleExpiry, [this] { return startableKeys() > 0; });
            --idle;
            if (!woken) {
                --helpers;
                return;
            }
            continue;
        }
        const std::shared_ptr<Task> task = *next;
        queue.erase(next);
        busy.insert(task->key);
        locker.unlock();
        task->work();
        locker.lock();
        busy.erase(task->key);
        task->done = true;
        finished.notify_all();
    }
}
