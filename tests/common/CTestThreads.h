#pragma once

#include <QSemaphore>
#include <QThread>

#include <functional>
#include <memory>
#include <vector>

// Runs work(0) to work(count - 1) on threads of their own, started together, and waits for each
// at most timeout ms; true when every one ended in time.
inline bool runOnThreads(int count, const std::function<void(int)>& work, int timeout = 60000)
{
    QSemaphore start;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back(QThread::create([&start, &work, i] {
            start.acquire();
            work(i);
        }));
        threads.back()->start();
    }
    start.release(count);
    bool ended = true;
    for (const auto& thread : threads)
        ended = thread->wait(timeout) && ended;
    return ended;
}
