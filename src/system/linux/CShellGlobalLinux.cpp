#include "system/linux/CShellGlobalLinux.h"

#include "dbapi/CPathOperations.h"
#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

#include <QDir>
#include <QStandardPaths>

#include <iterator>

namespace {

// What stands behind a folder here; None for folders this platform does not have.
enum class Location
{
    None,
    DataHome,
    CacheHome,
    Autostart,
    Applications,
    Fonts,
    Home,
    Desktop,
    Documents,
    Music,
    Pictures,
    Videos,
    Templates
};

struct Folder
{
    ShellSpecialFolderType type;
    quint32 csidl;
    Location location;
};

// One row per ShellSpecialFolderType, in its order.
constexpr Folder folders[] = {
    {ADMINTOOLS, 48, Location::None},
    {ALTSTARTUP, 29, Location::None},
    {APPDATA, 26, Location::DataHome},
    {BITBUCKET, 10, Location::None},
    {CDBURN_AREA, 59, Location::None},
    {COMMON_ADMINTOOLS, 47, Location::None},
    {COMMON_ALTSTARTUP, 30, Location::None},
    {COMMON_APPDATA, 35, Location::None},
    {COMMON_DESKTOPDIRECTORY, 25, Location::None},
    {COMMON_DOCUMENTS, 46, Location::None},
    {COMMON_FAVORITES, 31, Location::None},
    {COMMON_MUSIC, 53, Location::None},
    {COMMON_OEM_LINKS, 58, Location::None},
    {COMMON_PICTURES, 54, Location::None},
    {COMMON_PROGRAMS, 23, Location::None},
    {COMMON_STARTMENU, 22, Location::None},
    {COMMON_STARTUP, 24, Location::None},
    {COMMON_TEMPLATES, 45, Location::None},
    {COMMON_VIDEO, 55, Location::None},
    {COMPUTERSNEARME, 61, Location::None},
    {CONNECTIONS, 49, Location::None},
    {CONTROLS, 3, Location::None},
    {COOKIES, 33, Location::None},
    {DESKTOP, 0, Location::Desktop},
    {DESKTOPDIRECTORY, 16, Location::Desktop},
    {DRIVES, 17, Location::None},
    {FAVORITES, 6, Location::None},
    {FONTS, 20, Location::Fonts},
    {HISTORY, 34, Location::None},
    {INTERNET, 1, Location::None},
    {INTERNET_CACHE, 32, Location::CacheHome},
    {LOCAL_APPDATA, 28, Location::DataHome},
    {MYDOCUMENTS, 5, Location::Documents},
    {MYMUSIC, 13, Location::Music},
    {MYPICTURES, 39, Location::Pictures},
    {MYVIDEO, 14, Location::Videos},
    {NETHOOD, 19, Location::None},
    {NETWORK, 18, Location::None},
    {PERSONAL, 5, Location::Documents},
    {PRINTERS, 4, Location::None},
    {PRINTHOOD, 27, Location::None},
    {PROFILE, 40, Location::Home},
    {PROGRAM_FILES, 38, Location::None},
    {PROGRAM_FILESX86, 42, Location::None},
    {PROGRAM_FILES_COMMON, 43, Location::None},
    {PROGRAM_FILES_COMMONX86, 44, Location::None},
    {PROGRAMS, 2, Location::Applications},
    {RECENT, 8, Location::None},
    {RESOURCES, 56, Location::None},
    {RESOURCES_LOCALIZED, 57, Location::None},
    {SENDTO, 9, Location::None},
    {STARTMENU, 11, Location::Applications},
    {STARTUP, 7, Location::Autostart},
    {SYSTEM, 37, Location::None},
    {SYSTEMX86, 41, Location::None},
    {TEMPLATES, 21, Location::Templates},
    {WINDOWS, 36, Location::None},
};

constexpr bool rowsInTypeOrder()
{
    for (quint32 i = 0; i < std::size(folders); ++i) {
        if (folders[i].type != i)
            return false;
    }
    return std::size(folders) == WINDOWS + 1;
}
static_assert(rowsInTypeOrder(), "one folder row per type, in the order of the types");

// Like the shell, the lookup goes by CSIDL, so that an unknown type reaches the desktop.
Location locationOf(quint32 csidl)
{
    for (const Folder& folder : folders) {
        if (folder.csidl == csidl)
            return folder.location;
    }
    return Location::None;
}

QString standard(QStandardPaths::StandardLocation location)
{
    return QStandardPaths::writableLocation(location);
}

QString underDataHome(const QString& name)
{
    const QString dataHome = standard(QStandardPaths::GenericDataLocation);
    return dataHome.isEmpty() ? QString() : dataHome + QLatin1Char('/') + name;
}

QString pathOf(Location location)
{
    switch (location) {
    case Location::None:
        return QString();
    case Location::DataHome:
        return standard(QStandardPaths::GenericDataLocation);
    case Location::CacheHome:
        return standard(QStandardPaths::GenericCacheLocation);
    case Location::Autostart: {
        const QString configHome = standard(QStandardPaths::GenericConfigLocation);
        return configHome.isEmpty() ? QString() : configHome + QStringLiteral("/autostart");
    }
    case Location::Applications:
        return underDataHome(QStringLiteral("applications"));
    case Location::Fonts:
        return underDataHome(QStringLiteral("fonts"));
    case Location::Home:
        return standard(QStandardPaths::HomeLocation);
    case Location::Desktop:
        return standard(QStandardPaths::DesktopLocation);
    case Location::Documents:
        return standard(QStandardPaths::DocumentsLocation);
    case Location::Music:
        return standard(QStandardPaths::MusicLocation);
    case Location::Pictures:
        return standard(QStandardPaths::PicturesLocation);
    case Location::Videos:
        return standard(QStandardPaths::MoviesLocation);
    case Location::Templates:
        return standard(QStandardPaths::TemplatesLocation);
    }
    return QString();
}

} // namespace

quint32 CShellGlobalLinux::getCSIDL(quint32 type)
{
    SY_FUNCTION("CShellGlobalLinux::getCSIDL");
    if (type < std::size(folders))
        return folders[type].csidl;
    SY_CRITICAL << "unknown shell special folder type" << type;
    return 0;
}

QString CShellGlobalLinux::getShellSpecialFolderPath(ShellSpecialFolderType type)
{
    SY_FUNCTION("CShellGlobalLinux::getShellSpecialFolderPath");
    const quint32 csidl = getCSIDL(type);
    const QString found = pathOf(locationOf(csidl));
    if (found.isEmpty()) {
        SY_CRITICAL << "unable to retrieve shell special folder path for csidl:" << csidl;
        return QString();
    }
    QString path = CPathOperations::toGenericPath(QDir::cleanPath(found), false);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}
