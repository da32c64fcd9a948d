#include "fsapi/FileSystemExceptions.h"

// clang-format off
#define SY_FS_NAME_AND_DESCRIBE(Class, description)                                                \
    {                                                                                              \
        setName("Exceptions::" #Class "::" #Class);                                                \
        registerDescription(description);                                                          \
    }

#define SY_FS_DEFINE_CAUSE_CONSTRUCTORS_Plain(Class, Base, description)
#define SY_FS_DEFINE_CAUSE_CONSTRUCTORS_Caused(Class, Base, description)                           \
    Class::Class(const char* function, const char* file, quint32 line, const QString& details,     \
                 const CCallStack& callStack, const CException& cause)                             \
        : Base(function, file, line, details, callStack, cause)                                    \
    SY_FS_NAME_AND_DESCRIBE(Class, description)                                                    \
                                                                                                   \
    Class::Class(const char* function, const char* file, quint32 line, const QString& details,     \
                 const CCallStack& callStack, CException* cause)                                   \
        : Base(function, file, line, details, callStack, cause)                                    \
    SY_FS_NAME_AND_DESCRIBE(Class, description)

// The constructors, clone and destructor of one class of the table.
#define SY_DEFINE_FS_EXCEPTION(Class, Base, description, causes)                                   \
    Class::Class(const char* function, const char* file, quint32 line, const QString& details,     \
                 const CCallStack& callStack)                                                      \
        : Base(function, file, line, details, callStack)                                           \
    SY_FS_NAME_AND_DESCRIBE(Class, description)                                                    \
                                                                                                   \
    SY_FS_DEFINE_CAUSE_CONSTRUCTORS_##causes(Class, Base, description)                             \
                                                                                                   \
    Class* Class::clone() const                                                                    \
    {                                                                                              \
        return new Class(*this);                                                                   \
    }                                                                                              \
                                                                                                   \
    Class::~Class() = default;
// clang-format on

namespace Exceptions {

SY_FS_EXCEPTIONS(SY_DEFINE_FS_EXCEPTION)

} // namespace Exceptions
