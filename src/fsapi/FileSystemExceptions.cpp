#include "fsapi/FileSystemExceptions.h"

namespace Exceptions {

FileSystemException::FileSystemException(const char* function, const char* file, quint32 line,
                                         const QString& details, const CCallStack& callStack)
    : CException(function, file, line, details, callStack)
{
    setName("Exceptions::FileSystemException::FileSystemException");
    registerDescription("FileSystem Exceptions");
}

FileSystemException::FileSystemException(const char* function, const char* file, quint32 line,
                                         const QString& details, const CCallStack& callStack,
                                         const CException& cause)
    : CException(function, file, line, details, callStack, cause)
{
    setName("Exceptions::FileSystemException::FileSystemException");
    registerDescription("FileSystem Exceptions");
}

FileSystemException::FileSystemException(const char* function, const char* file, quint32 line,
                                         const QString& details, const CCallStack& callStack,
                                         CException* cause)
    : CException(function, file, line, details, callStack, cause)
{
    setName("Exceptions::FileSystemException::FileSystemException");
    registerDescription("FileSystem Exceptions");
}

FileSystemException* FileSystemException::clone() const
{
    return new FileSystemException(*this);
}

FileSystemException::~FileSystemException() = default;

InvalidParameter::InvalidParameter(const char* function, const char* file, quint32 line,
                                   const QString& details, const CCallStack& callStack)
    : FileSystemException(function, file, line, details, callStack)
{
    setName("Exceptions::InvalidParameter::InvalidParameter");
    registerDescription("Invalid parameter");
}

InvalidParameter* InvalidParameter::clone() const
{
    return new InvalidParameter(*this);
}

InvalidParameter::~InvalidParameter() = default;

DoesNotExist::DoesNotExist(const char* function, const char* file, quint32 line,
                           const QString& details, const CCallStack& callStack)
    : FileSystemException(function, file, line, details, callStack)
{
    setName("Exceptions::DoesNotExist::DoesNotExist");
    registerDescription("Specified file/directory doesn't exist");
}

DoesNotExist::DoesNotExist(const char* function, const char* file, quint32 line,
                           const QString& details, const CCallStack& callStack,
                           const CException& cause)
    : FileSystemException(function, file, line, details, callStack, cause)
{
    setName("Exceptions::DoesNotExist::DoesNotExist");
    registerDescription("Specified file/directory doesn't exist");
}

DoesNotExist::DoesNotExist(const char* function, const char* file, quint32 line,
                           const QString& details, const CCallStack& callStack, CException* cause)
    : FileSystemException(function, file, line, details, callStack, cause)
{
    setName("Exceptions::DoesNotExist::DoesNotExist");
    registerDescription("Specified file/directory doesn't exist");
}

DoesNotExist* DoesNotExist::clone() const
{
    return new DoesNotExist(*this);
}

DoesNotExist::~DoesNotExist() = default;

FileDoesNotExist::FileDoesNotExist(const char* function, const char* file, quint32 line,
                                   const QString& details, const CCallStack& callStack)
    : DoesNotExist(function, file, line, details, callStack)
{
    setName("Exceptions::FileDoesNotExist::FileDoesNotExist");
    registerDescription("Specified file doesn't exist");
}

FileDoesNotExist::FileDoesNotExist(const char* function, const char* file, quint32 line,
                                   const QString& details, const CCallStack& callStack,
                                   const CException& cause)
    : DoesNotExist(function, file, line, details, callStack, cause)
{
    setName("Exceptions::FileDoesNotExist::FileDoesNotExist");
    registerDescription("Specified file doesn't exist");
}

FileDoesNotExist::FileDoesNotExist(const char* function, const char* file, quint32 line,
                                   const QString& details, const CCallStack& callStack,
                                   CException* cause)
    : DoesNotExist(function, file, line, details, callStack, cause)
{
    setName("Exceptions::FileDoesNotExist::FileDoesNotExist");
    registerDescription("Specified file doesn't exist");
}

FileDoesNotExist* FileDoesNotExist::clone() const
{
    return new FileDoesNotExist(*this);
}

FileDoesNotExist::~FileDoesNotExist() = default;

DirectoryDoesNotExist::DirectoryDoesNotExist(const char* function, const char* file, quint32 line,
                                             const QString& details, const CCallStack& callStack)
    : DoesNotExist(function, file, line, details, callStack)
{
    setName("Exceptions::DirectoryDoesNotExist::DirectoryDoesNotExist");
    registerDescription("Specified directory doesn't exist");
}

DirectoryDoesNotExist::DirectoryDoesNotExist(const char* function, const char* file, quint32 line,
                                             const QString& details, const CCallStack& callStack,
                                             const CException& cause)
    : DoesNotExist(function, file, line, details, callStack, cause)
{
    setName("Exceptions::DirectoryDoesNotExist::DirectoryDoesNotExist");
    registerDescription("Specified directory doesn't exist");
}

DirectoryDoesNotExist::DirectoryDoesNotExist(const char* function, const char* file, quint32 line,
                                             const QString& details, const CCallStack& callStack,
                                             CException* cause)
    : DoesNotExist(function, file, line, details, callStack, cause)
{
    setName("Exceptions::DirectoryDoesNotExist::DirectoryDoesNotExist");
    registerDescription("Specified directory doesn't exist");
}

DirectoryDoesNotExist* DirectoryDoesNotExist::clone() const
{
    return new DirectoryDoesNotExist(*this);
}

DirectoryDoesNotExist::~DirectoryDoesNotExist() = default;

NotAFile::NotAFile(const char* function, const char* file, quint32 line, const QString& details,
                   const CCallStack& callStack)
    : FileSystemException(function, file, line, details, callStack)
{
    setName("Exceptions::NotAFile::NotAFile");
    registerDescription("Specified path is not a file");
}

NotAFile* NotAFile::clone() const
{
    return new NotAFile(*this);
}

NotAFile::~NotAFile() = default;

NotADirectory::NotADirectory(const char* function, const char* file, quint32 line,
                             const QString& details, const CCallStack& callStack)
    : FileSystemException(function, file, line, details, callStack)
{
    setName("Exceptions::NotADirectory::NotADirectory");
    registerDescription("Specified path is not a directory");
}

NotADirectory* NotADirectory::clone() const
{
    return new NotADirectory(*this);
}

NotADirectory::~NotADirectory() = default;

FileExists::FileExists(const char* function, const char* file, quint32 line, const QString& details,
                       const CCallStack& callStack)
    : FileSystemException(function, file, line, details, callStack)
{
    setName("Exceptions::FileExists::FileExists");
    registerDescription("Specified file already exists");
}

FileExists* FileExists::clone() const
{
    return new FileExists(*this);
}

FileExists::~FileExists() = default;

DirectoryExists::DirectoryExists(const char* function, const char* file, quint32 line,
                                 const QString& details, const CCallStack& callStack)
    : FileSystemException(function, file, line, details, callStack)
{
    setName("Exceptions::DirectoryExists::DirectoryExists");
    registerDescription("Specified directory already exists");
}

DirectoryExists* DirectoryExists::clone() const
{
    return new DirectoryExists(*this);
}

DirectoryExists::~DirectoryExists() = default;

Locked::Locked(const char* function, const char* file, quint32 line, const QString& details,
               const CCallStack& callStack)
    : FileSystemException(function, file, line, details, callStack)
{
    setName("Exceptions::Locked::Locked");
    registerDescription("Specified file/directory is locked");
}

Locked* Locked::clone() const
{
    return new Locked(*this);
}

Locked::~Locked() = default;

DirectoryNotEmpty::DirectoryNotEmpty(const char* function, const char* file, quint32 line,
                                     const QString& details, const CCallStack& callStack)
    : FileSystemException(function, file, line, details, callStack)
{
    setName("Exceptions::DirectoryNotEmpty::DirectoryNotEmpty");
    registerDescription("Specified directory is not empty");
}

DirectoryNotEmpty* DirectoryNotEmpty::clone() const
{
    return new DirectoryNotEmpty(*this);
}

DirectoryNotEmpty::~DirectoryNotEmpty() = default;

} // namespace Exceptions
