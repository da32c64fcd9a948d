#pragma once

#include "diagnostics/CException.h"

// An exception that also carries two error codes of the operating system; -1 means unknown.
class CSystemException : public CException
{
public:
    CSystemException(const char* function, const char* file, quint32 line, const QString& details,
                     const CCallStack& callStack, qint32 primaryErrorCode,
                     qint32 secondaryErrorCode);
    CSystemException(const char* function, const char* file, quint32 line, const QString& details,
                     const CCallStack& callStack, const CException& cause,
                     qint32 primaryErrorCode, qint32 secondaryErrorCode);
    CSystemException(const char* function, const char* file, quint32 line, const QString& details,
                     const CCallStack& callStack, CException* cause, qint32 primaryErrorCode,
                     qint32 secondaryErrorCode);
    CSystemException(const CSystemException& other);

    CSystemException* clone() const override;
    ~CSystemException() override;

    qint32 primaryErrorCode() const { return m_primaryErrorCode; }
    qint32 secondaryErrorCode() const { return m_secondaryErrorCode; }

protected:
    void appendFields(QByteArray& text) const override;

private:
    void initialize();

    qint32 m_primaryErrorCode;
    qint32 m_secondaryErrorCode;
};
