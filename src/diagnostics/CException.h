#pragma once

#include "diagnostics/ISafeCloneable.h"
#include "threading/threads/CCallStack.h"

#include <QByteArray>
#include <QString>

#include <exception>
#include <iosfwd>

// Base of every exception the library throws. It carries the throw site, a details text, a
// snapshot of the thrower's call stack and an owned cause; what() is composed once and cached.
class CException : public ISafeCloneable, public virtual std::exception
{
public:
    CException(const char* function, const char* file, quint32 line, const QString& details,
               const CCallStack& callStack);
    CException(const char* function, const char* file, quint32 line, const QString& details,
               const CCallStack& callStack, const CException& cause);
    // Takes ownership of cause: a clone is kept and the given object destroyed.
    CException(const char* function, const char* file, quint32 line, const QString& details,
               const CCallStack& callStack, CException* cause);
    CException(const CException& other);
    CException& operator=(const CException&) = delete;

    CException* clone() const override;
    ~CException() override;
    const char* what() const noexcept override;

    void setCause(const CException& cause);

    const char* name() const { return m_name; }
    const CCallStack& callStack() const { return m_callStack; }
    const CException* cause() const { return m_cause; }
    const char* function() const { return m_function ? m_function : ""; }
    const char* file() const { return m_file ? m_file : ""; }
    quint32 line() const { return m_line; }
    QString details() const;

protected:
    // Every class of the family calls both from each of its constructors.
    void setName(const char* name) { m_name = name; }
    void registerDescription(const char* description);
    // Lines a subclass adds between the details and the stack trace.
    virtual void appendFields(QByteArray& text) const;

private:
    const char* m_name;
    CCallStack m_callStack;
    CException* m_cause;
    const char* m_function;
    const char* m_file;
    quint32 m_line;
    QString m_details;
    mutable QByteArray whatText;
};

std::ostream& operator<<(std::ostream& stream, const CException& exception);

// The throw site of the current instrumented function: function, file and line.
#define SY_HERE syCallSite.function, __FILE__, static_cast<quint32>(__LINE__)

// Throws Type from the current instrumented function with the current thread's call stack.
#define SY_THROW(Type, details) throw Type(SY_HERE, details, CCallStack::current())
#define SY_THROW_CAUSED(Type, details, cause)                                                      \
    throw Type(SY_HERE, details, CCallStack::current(), cause)
