#include "diagnostics/CSystemException.h"

CSystemException::CSystemException(const char* function, const char* file, quint32 line,
                                   const QString& details, const CCallStack& callStack,
                                   qint32 primaryErrorCode, qint32 secondaryErrorCode)
    : CException(function, file, line, details, callStack), m_primaryErrorCode(primaryErrorCode),
      m_secondaryErrorCode(secondaryErrorCode)
{
    initialize();
}

CSystemException::CSystemException(const char* function, const char* file, quint32 line,
                                   const QString& details, const CCallStack& callStack,
                                   const CException& cause, qint32 primaryErrorCode,
                                   qint32 secondaryErrorCode)
    : CException(function, file, line, details, callStack, cause),
      m_primaryErrorCode(primaryErrorCode), m_secondaryErrorCode(secondaryErrorCode)
{
    initialize();
}

CSystemException::CSystemException(const char* function, const char* file, quint32 line,
                                   const QString& details, const CCallStack& callStack,
                                   CException* cause, qint32 primaryErrorCode,
                                   qint32 secondaryErrorCode)
    : CException(function, file, line, details, callStack, cause),
      m_primaryErrorCode(primaryErrorCode), m_secondaryErrorCode(secondaryErrorCode)
{
    initialize();
}

CSystemException::CSystemException(const CSystemException& other)
    : std::exception(other), CException(other), m_primaryErrorCode(other.m_primaryErrorCode),
      m_secondaryErrorCode(other.m_secondaryErrorCode)
{
}

CSystemException* CSystemException::clone() const
{
    return new CSystemException(*this);
}

CSystemException::~CSystemException() = default;

void CSystemException::initialize()
{
    setName("CSystemException::CSystemException");
    registerDescription("A System Error occurred");
}

void CSystemException::appendFields(QByteArray& text) const
{
    const auto code = [](qint32 value) {
        return value == -1 ? QByteArray("Unknown") : QByteArray::number(value);
    };
    text += "PrimaryErrorCode:\t" + code(m_primaryErrorCode) + '\n';
    text += "SecondaryErrorCode:\t" + code(m_secondaryErrorCode) + '\n';
}
