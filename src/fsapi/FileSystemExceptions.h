#pragma once

#include "diagnostics/CException.h"

// The exceptions of the file-system layer. The family is this one table: class, base, the
// description every constructor registers, and whether the class also takes a cause (Caused)
// or not (Plain). Each constructor names the exception "Exceptions::<Class>::<Class>"; the
// details text is built by the thrower. A base must stand above the classes derived from it.
#define SY_FS_EXCEPTIONS(X)                                                                        \
    X(FileSystemException, CException, "FileSystem Exceptions", Caused)                            \
    X(InvalidParameter, FileSystemException, "Invalid parameter", Plain)                           \
    X(DoesNotExist, FileSystemException, "Specified file/directory doesn't exist", Caused)         \
    X(FileDoesNotExist, DoesNotExist, "Specified file doesn't exist", Caused)                      \
    X(DirectoryDoesNotExist, DoesNotExist, "Specified directory doesn't exist", Caused)            \
    X(NotAFile, FileSystemException, "Specified path is not a file", Plain)                        \
    X(NotADirectory, FileSystemException, "Specified path is not a directory", Plain)              \
    X(FileExists, FileSystemException, "Specified file already exists", Plain)                     \
    X(DirectoryExists, FileSystemException, "Specified directory already exists", Plain)           \
    X(Locked, FileSystemException, "Specified file/directory is locked", Plain)                    \
    X(DirectoryNotEmpty, FileSystemException, "Specified directory is not empty", Plain)

// clang-format off
#define SY_FS_CAUSE_CONSTRUCTORS_Plain(Class)
#define SY_FS_CAUSE_CONSTRUCTORS_Caused(Class)                                                     \
        Class(const char* function, const char* file, quint32 line, const QString& details,        \
              const CCallStack& callStack, const CException& cause);                               \
        /* Takes ownership of cause. */                                                            \
        Class(const char* function, const char* file, quint32 line, const QString& details,        \
              const CCallStack& callStack, CException* cause);

#define SY_DECLARE_FS_EXCEPTION(Class, Base, description, causes)                                  \
    class Class : public Base                                                                      \
    {                                                                                              \
    public:                                                                                        \
        Class(const char* function, const char* file, quint32 line, const QString& details,        \
              const CCallStack& callStack);                                                        \
        SY_FS_CAUSE_CONSTRUCTORS_##causes(Class)                                                   \
        Class(const Class& other) = default;                                                       \
                                                                                                   \
        Class* clone() const override;                                                             \
        ~Class() override;                                                                         \
    };
// clang-format on

namespace Exceptions {

SY_FS_EXCEPTIONS(SY_DECLARE_FS_EXCEPTION)

} // namespace Exceptions
