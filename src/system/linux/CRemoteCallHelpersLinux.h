#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

// The threads that make the calls which may wait for a server that never answers. Such a call
// cannot be interrupted, so its thread cannot be joined: helpers are detached, reused, and
// hand results over through shared state (standard primitives, like the threads). There are
// at most maxHelpers of them, and each mount has at most one of them working for it at a
// time: a dead server holds one helper however often it is asked, and the callers queued
// behind it give up at their deadline. An idle helper ends after idleExpiry.
class CRemoteCallHelpersLinux
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int maxHelpers = 4;

    // Never destroyed: a helper blocked in a call may outlive main().
    static CRemoteCallHelpersLinux& instance();

    // Runs work for the mount with the id key and waits for it until deadline; null when the
    // deadline came first.
    template<typename Result>
    std::optional<Result> run(int key, Clock::time_point deadline, std::function<Result()> work)
    {
        const auto result = std::make_shared<std::optional<Result>>();
        const auto task = std::make_shared<Task>();
        task->key = key;
        task->work = [result, work = std::move(work)] { result->emplace(work()); };
        std::unique_lock<std::mutex> locker(mutex);
        queue.push_back(task);
        if (helpers < maxHelpers && startableKeys() > idle)
            start();
        wake.notify_all();
        finished.wait_until(locker, deadline, [&task] { return task->done; });
        if (!task->done) {
            queue.erase(std::remove(queue.begin(), queue.end(), task), queue.end());
            return std::nullopt;
        }
        return std::move(*result);
    }

private:
    struct Task
    {
        int key = -1;
        std::function<void()> work;
        bool done = false;
    };

    static constexpr std::chrono::seconds idleExpiry{10};

    CRemoteCallHelpersLinux() = default;

    // Mounts with queued work and no helper working for them.
    int startableKeys() const;
    void start();
    void serve();

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    std::deque<std::shared_ptr<Task>> queue;
    // Mounts a helper is working for.
    std::set<int> busy;
    int helpers = 0;
    int idle = 0;
};
