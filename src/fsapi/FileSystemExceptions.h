#pragma once

#include "diagnostics/CException.h"

// The exceptions of the file-system layer. Each class names itself and registers its
// description in every constructor; the details text is built by the thrower.
namespace Exceptions {

class FileSystemException : public CException
{
public:
    FileSystemException(const char* function, const char* file, quint32 line,
                        const QString& details, const CCallStack& callStack);
    FileSystemException(const char* function, const char* file, quint32 line,
                        const QString& details, const CCallStack& callStack,
                        const CException& cause);
    // Takes ownership of cause.
    FileSystemException(const char* function, const char* file, quint32 line,
                        const QString& details, const CCallStack& callStack, CException* cause);
    FileSystemException(const FileSystemException& other) = default;

    FileSystemException* clone() const override;
    ~FileSystemException() override;
};

class InvalidParameter : public FileSystemException
{
public:
    InvalidParameter(const char* function, const char* file, quint32 line, const QString& details,
                     const CCallStack& callStack);
    InvalidParameter(const InvalidParameter& other) = default;

    InvalidParameter* clone() const override;
    ~InvalidParameter() override;
};

class DoesNotExist : public FileSystemException
{
public:
    DoesNotExist(const char* function, const char* file, quint32 line, const QString& details,
                 const CCallStack& callStack);
    DoesNotExist(const char* function, const char* file, quint32 line, const QString& details,
                 const CCallStack& callStack, const CException& cause);
    // Takes ownership of cause.
    DoesNotExist(const char* function, const char* file, quint32 line, const QString& details,
                 const CCallStack& callStack, CException* cause);
    DoesNotExist(const DoesNotExist& other) = default;

    DoesNotExist* clone() const override;
    ~DoesNotExist() override;
};

class FileDoesNotExist : public DoesNotExist
{
public:
    FileDoesNotExist(const char* function, const char* file, quint32 line, const QString& details,
                     const CCallStack& callStack);
    FileDoesNotExist(const char* function, const char* file, quint32 line, const QString& details,
                     const CCallStack& callStack, const CException& cause);
    // Takes ownership of cause.
    FileDoesNotExist(const char* function, const char* file, quint32 line, const QString& details,
                     const CCallStack& callStack, CException* cause);
    FileDoesNotExist(const FileDoesNotExist& other) = default;

    FileDoesNotExist* clone() const override;
    ~FileDoesNotExist() override;
};

class DirectoryDoesNotExist : public DoesNotExist
{
public:
    DirectoryDoesNotExist(const char* function, const char* file, quint32 line,
                          const QString& details, const CCallStack& callStack);
    DirectoryDoesNotExist(const char* function, const char* file, quint32 line,
                          const QString& details, const CCallStack& callStack,
                          const CException& cause);
    // Takes ownership of cause.
    DirectoryDoesNotExist(const char* function, const char* file, quint32 line,
                          const QString& details, const CCallStack& callStack, CException* cause);
    DirectoryDoesNotExist(const DirectoryDoesNotExist& other) = default;

    DirectoryDoesNotExist* clone() const override;
    ~DirectoryDoesNotExist() override;
};

class NotAFile : public FileSystemException
{
public:
    NotAFile(const char* function, const char* file, quint32 line, const QString& details,
             const CCallStack& callStack);
    NotAFile(const NotAFile& other) = default;

    NotAFile* clone() const override;
    ~NotAFile() override;
};

class NotADirectory : public FileSystemException
{
public:
    NotADirectory(const char* function, const char* file, quint32 line, const QString& details,
                  const CCallStack& callStack);
    NotADirectory(const NotADirectory& other) = default;

    NotADirectory* clone() const override;
    ~NotADirectory() override;
};

class FileExists : public FileSystemException
{
public:
    FileExists(const char* function, const char* file, quint32 line, const QString& details,
               const CCallStack& callStack);
    FileExists(const FileExists& other) = default;

    FileExists* clone() const override;
    ~FileExists() override;
};

class DirectoryExists : public FileSystemException
{
public:
    DirectoryExists(const char* function, const char* file, quint32 line, const QString& details,
                    const CCallStack& callStack);
    DirectoryExists(const DirectoryExists& other) = default;

    DirectoryExists* clone() const override;
    ~DirectoryExists() override;
};

class Locked : public FileSystemException
{
public:
    Locked(const char* function, const char* file, quint32 line, const QString& details,
           const CCallStack& callStack);
    Locked(const Locked& other) = default;

    Locked* clone() const override;
    ~Locked() override;
};

class DirectoryNotEmpty : public FileSystemException
{
public:
    DirectoryNotEmpty(const char* function, const char* file, quint32 line, const QString& details,
                      const CCallStack& callStack);
    DirectoryNotEmpty(const DirectoryNotEmpty& other) = default;

    DirectoryNotEmpty* clone() const override;
    ~DirectoryNotEmpty() override;
};

} // namespace Exceptions
