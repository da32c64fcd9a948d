#pragma once

#include <QByteArray>
#include <QMutex>
#include <QtAlgorithms>

#include <atomic>

// One static, constant record per instrumented function.
struct CCallSiteRecord
{
    quint32 line;
    const char* function;
    const char* file;
    const char* note;
};

// The explicit call stack of one thread. Only its own thread pushes and pops; dumps and
// exceptions may read it from other threads without a lock. Slots live in chunks that are never
// moved or freed before the stack itself, and each field of a slot is atomic, so a reader on
// another thread sees a possibly stale but always valid picture. Pushes stop allocating once the
// greatest depth has been reached. The thread name and implementation text are copied, so a
// copy (as an exception keeps) outlives the thread it was taken from.
class CCallStack
{
public:
    CCallStack(quint32 reserveCount, qint32 threadNumber, const char* threadName,
               const char* implementationText);
    CCallStack(const CCallStack& other);
    CCallStack& operator=(const CCallStack&) = delete;
    virtual ~CCallStack();

    void push(const CCallSiteRecord& record);
    void pop();
    void clear();

    // Both texts live in this object until the next call on any thread.
    const char* header();
    const char* trace();
    // The same texts as copies, for readers on other threads.
    QByteArray headerText() const;
    QByteArray traceText() const;

    quint32 depth() const { return m_depth.load(std::memory_order_acquire); }
    qint32 threadNumber() const { return m_threadNumber; }

    // The stack of the running CBasicThread, or the one of the current other thread. Once that
    // thread's own stack has been destroyed at its exit, an empty stack that nothing pushes to.
    static CCallStack& current();
    // The stack instrumented functions push to: null once the current thread, not being a
    // CBasicThread, has destroyed its stack (static and thread-local destructors at exit).
    static CCallStack* currentForPush();

private:
    struct Slot
    {
        std::atomic<quint32> line{0};
        std::atomic<const char*> function{nullptr};
        std::atomic<const char*> file{nullptr};
        std::atomic<const char*> note{nullptr};
    };
    // Chunk k holds firstChunkSize << k slots.
    static constexpr quint32 firstChunkSize = 16;
    static constexpr int chunkCount = 26;

    // The slot at index, or null if its chunk has not been allocated.
    Slot* slotAt(quint32 index) const;
    Slot& slotForWrite(quint32 index);

    QByteArray threadName;
    QByteArray implementationText;
    qint32 m_threadNumber;
    std::atomic<quint32> m_depth;
    quint32 reserveCount;
    std::atomic<Slot*> chunks[chunkCount];
    mutable QMutex cacheMutex;
    QByteArray headerCache;
    QByteArray traceCache;
};

// Pushes a call-site record on the current thread's stack for the lifetime of the guard.
class CCallStackGuard
{
public:
    explicit CCallStackGuard(const CCallSiteRecord& record);
    ~CCallStackGuard();
    CCallStackGuard(const CCallStackGuard&) = delete;
    CCallStackGuard& operator=(const CCallStackGuard&) = delete;

private:
    CCallStack* stack;
};

// Opens every instrumented function: names it for its records and keeps its call-site record
// on the thread's call stack until the function is left.
#define SY_FUNCTION(name)                                                                          \
    static const CCallSiteRecord syCallSite{__LINE__, name, __FILE__, nullptr};                    \
    const CCallStackGuard syCallStackGuard(syCallSite)
