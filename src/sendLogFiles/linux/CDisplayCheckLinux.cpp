#include "sendLogFiles/CDisplayCheck.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QString>
#include <QStringList>

#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

// The platforms the toolkit tries, in its order: the one asked for, or Wayland in a Wayland
// session followed by X, the toolkit's default on Linux.
QByteArrayList candidates()
{
    const QByteArray asked = qgetenv("QT_QPA_PLATFORM");
    if (!asked.isEmpty())
        return asked.split(';');
    QByteArrayList order{"xcb"};
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland")
        order.prepend("wayland");
    return order;
}

// Standard error goes to /dev/null while it lives, and comes back when it ends.
class CQuietStandardError
{
public:
    CQuietStandardError() : saved(::dup(STDERR_FILENO))
    {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        quiet = saved >= 0 && null >= 0 && ::dup2(null, STDERR_FILENO) == STDERR_FILENO;
        if (null >= 0)
            ::close(null);
    }
    ~CQuietStandardError()
    {
        if (quiet)
            ::dup2(saved, STDERR_FILENO);
        if (saved >= 0)
            ::close(saved);
    }
    CQuietStandardError(const CQuietStandardError&) = delete;
    CQuietStandardError& operator=(const CQuietStandardError&) = delete;

private:
    int saved;
    bool quiet = false;
};

// A full connection, authentication included: a server that refuses this program is as
// useless as none.
bool xDisplayOpens()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    // The X library writes a refusing server's reason straight to standard error; the program
    // says in its own one line why it ends.
    const CQuietStandardError quiet;
    xcb_connection_t* connection = ::xcb_connect(nullptr, nullptr);
    const bool opened = ::xcb_connection_has_error(connection) == 0;
    // A failed connection is an object of its own that must be released as well.
    ::xcb_disconnect(connection);
    return opened;
}

// Where the toolkit looks for its platform plugins.
QStringList platformPluginFolders()
{
    QStringList folders;
    const QString platformPath = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH");
    if (!platformPath.isEmpty())
        folders << platformPath;
    const QStringList pluginPaths =
        qEnvironmentVariable("QT_PLUGIN_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& path : pluginPaths)
        folders << path + QStringLiteral("/platforms");
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
    return folders;
}

bool waylandPluginInstalled()
{
    for (const QString& folder : platformPluginFolders()) {
        if (!QDir(folder).entryList({QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty())
            return true;
    }
    return false;
}

// A file descriptor closed on every way out.
class CSocket
{
public:
    CSocket() : descriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~CSocket()
    {
        if (descriptor >= 0)
            ::close(descriptor);
    }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    bool connectTo(const QByteArray& path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (descriptor < 0 || path.isEmpty() || size_t(path.size()) >= sizeof(address.sun_path))
            return false;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        return ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address),
                         sizeof(address)) == 0;
    }

private:
    int descriptor;
};

// The compositor's socket, named as the Wayland client library names it.
bool waylandCompositorAnswers()
{
    QByteArray name = qgetenv("WAYLAND_DISPLAY");
    if (name.isEmpty())
        name = "wayland-0";
    if (!name.startsWith('/')) {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (runtime.isEmpty())
            return false;
        name = runtime + '/' + name;
    }
    return CSocket().connectTo(name);
}

bool usable(const QByteArray& candidate)
{
    const QByteArray platform = candidate.split(':').constFirst().trimmed();
    if (platform == "xcb")
        return xDisplayOpens();
    if (platform.startsWith("wayland"))
        return waylandPluginInstalled() && waylandCompositorAnswers();
    // offscreen, minimal, vnc, linuxfb, eglfs and the like draw without a display server.
    return !platform.isEmpty();
}

} // namespace

bool CDisplayCheck::displayAvailable()
{
    for (const QByteArray& candidate : candidates()) {
        if (usable(candidate))
            return true;
    }
    return false;
}
