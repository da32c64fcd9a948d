#include "diagnostics/CException.h"

#include <QMutex>
#include <QMutexLocker>

#include <iostream>
#include <map>
#include <typeindex>
#include <typeinfo>

namespace {

// Run-time type to description text. Constructors run on any thread, so the table is locked.
struct DescriptionTable
{
    QMutex mutex;
    std::map<std::type_index, const char*> texts;
};

DescriptionTable& descriptionTable()
{
    static DescriptionTable table;
    return table;
}

const char* const defaultDetails = "No Additional Exception Information Available !";

} // namespace

CException::CException(const char* function, const char* file, quint32 line, const QString& details,
                       const CCallStack& callStack)
    : m_name("CException::CException"), m_callStack(callStack), m_cause(nullptr),
      m_function(function), m_file(file), m_line(line), m_details(details)
{
    registerDescription("This is a CxException");
}

CException::CException(const char* function, const char* file, quint32 line, const QString& details,
                       const CCallStack& callStack, const CException& cause)
    : CException(function, file, line, details, callStack)
{
    m_cause = cause.clone();
}

CException::CException(const char* function, const char* file, quint32 line, const QString& details,
                       const CCallStack& callStack, CException* cause)
    : CException(function, file, line, details, callStack)
{
    if (cause) {
        m_cause = cause->clone();
        delete cause;
    }
}

CException::CException(const CException& other)
    : std::exception(other), ISafeCloneable(), m_name(other.m_name), m_callStack(other.m_callStack),
      m_cause(other.m_cause ? other.m_cause->clone() : nullptr), m_function(other.m_function),
      m_file(other.m_file), m_line(other.m_line), m_details(other.details())
{}

CException* CException::clone() const
{
    return new CException(*this);
}

CException::~CException()
{
    try {
        delete m_cause;
    } catch (...) {
    }
}

QString CException::details() const
{
    return m_details.isEmpty() ? QString::fromLatin1(defaultDetails) : m_details;
}

void CException::setCause(const CException& cause)
{
    CException* copy = cause.clone();
    if (copy) {
        delete m_cause;
        m_cause = copy;
        whatText.clear();
    }
}

void CException::registerDescription(const char* description)
{
    try {
        DescriptionTable& table = descriptionTable();
        const QMutexLocker locker(&table.mutex);
        table.texts.emplace(std::type_index(typeid(*this)), description);
    } catch (const std::exception& failure) {
        std::cerr << failure.what() << std::endl;
    }
}

void CException::appendFields(QByteArray&) const {}

const char* CException::what() const noexcept
{
    if (!whatText.isEmpty())
        return whatText.constData();

    const char* description = nullptr;
    {
        DescriptionTable& table = descriptionTable();
        const QMutexLocker locker(&table.mutex);
        const auto found = table.texts.find(std::type_index(typeid(*this)));
        if (found != table.texts.end())
            description = found->second;
    }

    QByteArray text(m_name);
    const QByteArray place = QByteArray(file()) + ':' + QByteArray::number(m_line) + "]\t" +
                             QByteArray(function()) + '\n';
    if (description && *description)
        text += ":\t" + QByteArray(description) + "\n\tthrown at [" + place;
    else
        text += "\n\tthrown at\t\t[" + place;
    if (!m_details.isEmpty())
        text += "Details:\n" + m_details.toUtf8() + '\n';
    appendFields(text);
    text += "StackTrace:\n";
    text += m_callStack.headerText();
    text += m_callStack.traceText();
    if (!text.endsWith('\n'))
        text += '\n';
    if (m_cause)
        text += "caused by\t" + QByteArray(m_cause->what());
    whatText = text;
    return whatText.constData();
}

std::ostream& operator<<(std::ostream& stream, const CException& exception)
{
    return stream << exception.what();
}
