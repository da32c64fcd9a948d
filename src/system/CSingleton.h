#pragma once

#include <QMutex>
#include <QMutexLocker>

#include <atomic>

// Base of the classes of which the process holds one instance. instance() creates it on first
// use (once, however many threads ask at the same time) and hands out the same object until it
// is destroyed, through destroy() or by deleting it: its destruction clears the pointer, and the
// next instance() creates a fresh one. The pointer stays valid until then; destroying the
// instance while another thread still uses it is the caller's error.
// T derives from CSingleton<T> and needs a constructor without arguments that CSingleton<T> can
// reach (public, or private with CSingleton<T> as a friend).
template<typename T>
class CSingleton
{
public:
    static T* instance()
    {
        T* current = s_instance.load(std::memory_order_acquire);
        if (current)
            return current;
        const QMutexLocker locker(&s_lock);
        current = s_instance.load(std::memory_order_relaxed);
        if (!current) {
            current = new T();
            s_base = current;
            s_instance.store(current, std::memory_order_release);
        }
        return current;
    }

    static bool exists() { return s_instance.load(std::memory_order_acquire) != nullptr; }

    static void destroy()
    {
        const QMutexLocker locker(&s_lock);
        delete s_instance.load(std::memory_order_relaxed);
    }

    CSingleton(const CSingleton&) = delete;
    CSingleton& operator=(const CSingleton&) = delete;

protected:
    CSingleton() = default;
    // The base address is compared, not the derived one: by now the derived part is gone.
    virtual ~CSingleton()
    {
        if (s_base == this) {
            s_base = nullptr;
            s_instance.store(nullptr, std::memory_order_release);
        }
    }

private:
    static inline std::atomic<T*> s_instance{nullptr};
    static inline const CSingleton* s_base = nullptr;
    static inline QMutex s_lock;
};
