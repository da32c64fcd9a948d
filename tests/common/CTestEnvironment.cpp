#include "common/CTestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const char* const variables[] = {"HOME",           "XDG_CONFIG_HOME",         "XDG_DATA_HOME",
                                 "XDG_CACHE_HOME", "XDG_STATE_HOME",          "XDG_RUNTIME_DIR",
                                 "TMPDIR",         "DBUS_SESSION_BUS_ADDRESS"};
}

CTestEnvironment::CTestEnvironment() : previousWorkingDirectory(QDir::currentPath())
{
    for (const char* name : variables)
        previousVariables.append({QByteArray(name), qgetenv(name)});
    const QString base = root();
    const QString home = base + QStringLiteral("home");
    QDir().mkpath(home + QStringLiteral("/.config"));
    QDir().mkpath(home + QStringLiteral("/.local/share"));
    QDir().mkpath(home + QStringLiteral("/.cache"));
    QDir().mkpath(home + QStringLiteral("/.local/state"));
    QDir().mkpath(base + QStringLiteral("runtime"));
    QFile::setPermissions(base + QStringLiteral("runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir().mkpath(base + QStringLiteral("work"));
    QDir().mkpath(base + QStringLiteral("tmp"));
    qputenv("HOME", home.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home + QStringLiteral("/.local/share")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home + QStringLiteral("/.cache")).toLocal8Bit());
    qputenv("XDG_STATE_HOME", (home + QStringLiteral("/.local/state")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (base + QStringLiteral("runtime")).toLocal8Bit());
    qputenv("TMPDIR", (base + QStringLiteral("tmp")).toLocal8Bit());
    // A bus address where nothing listens: the desktop's real session bus is never reached.
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            (QStringLiteral("unix:path=") + base + QStringLiteral("no-session-bus")).toLocal8Bit());
    QDir::setCurrent(base + QStringLiteral("work"));
}

CTestEnvironment::~CTestEnvironment()
{
    QDir::setCurrent(previousWorkingDirectory);
    for (const auto& variable : std::as_const(previousVariables)) {
        if (variable.second.isNull())
            qunsetenv(variable.first.constData());
        else
            qputenv(variable.first.constData(), variable.second);
    }
}

QString CTestEnvironment::root() const
{
    return dir.path() + QLatin1Char('/');
}

QString CTestEnvironment::makeDir(const QString& relative) const
{
    const QString path = root() + relative;
    QDir().mkpath(path);
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

QString CTestEnvironment::writeFile(const QString& relative, const QByteArray& content) const
{
    const QString path = root() + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

bool CTestEnvironment::renew(std::unique_ptr<CTestEnvironment>& environment)
{
    environment.reset();
    environment = std::make_unique<CTestEnvironment>();
    return environment->isValid();
}
