#include "system/linux/CShellGlobalLinux.h"

#include "dbapi/CPathOperations.h"
#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

#include <QDir>
#include <QFile>

#include <iterator>
#include <vector>

#include <pwd.h>
#include <unistd.h>

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

// HOME when it is an absolute path, else the home folder of the account; empty when neither
// names one, so that no folder resolves under the root folder by default.
QString homeFolder()
{
    const QString home = QFile::decodeName(qgetenv("HOME"));
    if (home.startsWith(QLatin1Char('/')))
        return home;
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    passwd entry;
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir)
        return QString();
    const QString accountHome = QFile::decodeName(found->pw_dir);
    return accountHome.startsWith(QLatin1Char('/')) && QDir::cleanPath(accountHome) != u"/"
               ? accountHome
               : QString();
}

QString underHome(const QString& relative)
{
    const QString home = homeFolder();
    return home.isEmpty() ? QString() : home + QLatin1Char('/') + relative;
}

// An XDG base folder: the variable when it holds an absolute path (the base-directory rules
// ignore a relative one), else its default below the home folder.
QString baseFolder(const char* variable, const QString& defaultUnderHome)
{
    const QString value = QFile::decodeName(qgetenv(variable));
    return value.startsWith(QLatin1Char('/')) ? value : underHome(defaultUnderHome);
}

QString dataHome()
{
    return baseFolder("XDG_DATA_HOME", QStringLiteral(".local/share"));
}

QString underDataHome(const QString& name)
{
    const QString base = dataHome();
    return base.isEmpty() ? QString() : base + QLatin1Char('/') + name;
}

// One assignment of user-dirs.dirs.
struct UserDirsLine
{
    QByteArray key;
    QByteArray value;
    bool underHome = false;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A line read as the shell reads it when xdg-user-dir sources the file: KEY="value", where a
// backslash escapes $, `, " and \ (and stays before any other character), an unescaped "$HOME"
// at the start of the value stands for the home folder, and only blanks or a comment may follow
// the closing quote. False for any other line, which the desktop's readers pass over as well.
bool parseUserDirsLine(const QByteArray& line, UserDirsLine& parsed)
{
    qsizetype at = 0;
    while (at < line.size() && isBlank(line.at(at)))
        ++at;
    const qsizetype equals = line.indexOf('=', at);
    if (equals < 0 || equals + 1 >= line.size() || line.at(equals + 1) != '"')
        return false;
    parsed.key = line.mid(at, equals - at);
    at = equals + 2;
    const QByteArrayView home("$HOME");
    const QByteArrayView rest = QByteArrayView(line).sliced(at);
    parsed.underHome =
        rest.startsWith(home) &&
        (rest.size() == home.size() || rest.at(home.size()) == '/' || rest.at(home.size()) == '"');
    if (parsed.underHome)
        at += home.size();
    parsed.value.clear();
    for (; at < line.size() && line.at(at) != '"'; ++at) {
        if (line.at(at) == '\\' && at + 1 < line.size() &&
            QByteArrayView("$`\"\\").contains(line.at(at + 1)))
            ++at;
        parsed.value += line.at(at);
    }
    if (at >= line.size())
        return false;
    const qsizetype closing = at++;
    while (at < line.size() && isBlank(line.at(at)))
        ++at;
    return at == line.size() || (line.at(at) == '#' && at > closing + 1);
}

// A folder of user-dirs.dirs ("XDG_DESKTOP_DIR" for the desktop): its "$HOME/..." or absolute
// value, else the default name below the home folder. The file is read here rather than
// through QStandardPaths, which takes a relative XDG_CONFIG_HOME and an unset HOME as they are
// and leaves the escapes in the value.
QString userFolder(const QString& key, const QString& defaultName)
{
    const QString home = homeFolder();
    QString folder = home.isEmpty() ? QString() : home + QLatin1Char('/') + defaultName;
    const QString configHome = baseFolder("XDG_CONFIG_HOME", QStringLiteral(".config"));
    QFile file(configHome + QStringLiteral("/user-dirs.dirs"));
    if (configHome.isEmpty() || !file.open(QIODevice::ReadOnly))
        return folder;
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return folder;
    const QByteArray wanted = key.toLatin1();
    // As in the shell, the last assignment counts.
    for (const QByteArray& line : content.split('\n')) {
        UserDirsLine parsed;
        if (!parseUserDirsLine(line, parsed) || parsed.key != wanted)
            continue;
        const QString value = QFile::decodeName(parsed.value);
        if (parsed.underHome)
            folder = home.isEmpty() ? QString() : home + value;
        else if (value.startsWith(QLatin1Char('/')))
            folder = value;
    }
    return folder;
}

QString pathOf(Location location)
{
    switch (location) {
    case Location::None:
        return QString();
    case Location::DataHome:
        return dataHome();
    case Location::CacheHome:
        return baseFolder("XDG_CACHE_HOME", QStringLiteral(".cache"));
    case Location::Autostart: {
        const QString configHome = baseFolder("XDG_CONFIG_HOME", QStringLiteral(".config"));
        return configHome.isEmpty() ? QString() : configHome + QStringLiteral("/autostart");
    }
    case Location::Applications:
        return underDataHome(QStringLiteral("applications"));
    case Location::Fonts:
        return underDataHome(QStringLiteral("fonts"));
    case Location::Home:
        return homeFolder();
    case Location::Desktop:
        return userFolder(QStringLiteral("XDG_DESKTOP_DIR"), QStringLiteral("Desktop"));
    case Location::Documents:
        return userFolder(QStringLiteral("XDG_DOCUMENTS_DIR"), QStringLiteral("Documents"));
    case Location::Music:
        return userFolder(QStringLiteral("XDG_MUSIC_DIR"), QStringLiteral("Music"));
    case Location::Pictures:
        return userFolder(QStringLiteral("XDG_PICTURES_DIR"), QStringLiteral("Pictures"));
    case Location::Videos:
        return userFolder(QStringLiteral("XDG_VIDEOS_DIR"), QStringLiteral("Videos"));
    case Location::Templates:
        return userFolder(QStringLiteral("XDG_TEMPLATES_DIR"), QStringLiteral("Templates"));
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
