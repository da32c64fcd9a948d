#pragma once

#include <QByteArray>

#include <vector>

// One static, constant record per instrumented function.
struct CCallSiteRecord
{
    quint32 line;
    const char* function;
    const char* file;
    const char* note;
};

// The explicit call stack of one thread. Only its own thread pushes and pops; dumps and
// exceptions read it without a lock. Popped slots are kept so that pushes stop allocating
// once the greatest depth has been reached.
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

    // Both texts live in this object until the next call.
    const char* header();
    const char* trace();

    quint32 depth() const { return m_depth; }
    qint32 threadNumber() const { return m_threadNumber; }

    // The stack of the running CBasicThread, or the main thread's one.
    static CCallStack& current();
    static CCallStack& mainThreadStack();

private:
    const char* threadName;
    const char* implementationText;
    qint32 m_threadNumber;
    quint32 m_depth;
    quint32 reserveCount;
    std::vector<CCallSiteRecord> entries;
    QByteArray headerText;
    QByteArray traceText;
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
    CCallStack& stack;
};

// Opens every instrumented function: names it for its records and keeps its call-site record
// on the thread's call stack until the function is left.
#define SY_FUNCTION(name)                                                                          \
    static const CCallSiteRecord syCallSite{__LINE__, name, __FILE__, nullptr};                    \
    const CCallStackGuard syCallStackGuard(syCallSite)
