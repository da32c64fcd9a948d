#include "common/CTestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace {
// The variables pointed into the folder, each with the folder below the root it names.
const std::pair<const char*, const char*> variables[] = {{"HOME", "home"},
                                                         {"XDG_CONFIG_HOME", "home/.config"},
                                                         {"XDG_DATA_HOME", "home/.local/share"},
                                                         {"XDG_CACHE_HOME", "home/.cache"},
                                                         {"XDG_STATE_HOME", "home/.local/state"},
                                                         {"XDG_RUNTIME_DIR", "runtime"},
                                                         {"TMPDIR", "tmp"},
                                                         {"DBUS_SESSION_BUS_ADDRESS", nullptr}};
} // namespace

CTestEnvironment::CTestEnvironment() : previousWorkingDirectory(QDir::currentPath())
{
    for (const auto& [name, folder] : variables) {
        previousVariables.append({QByteArray(name), qgetenv(name)});
        if (folder) {
            QDir().mkpath(root() + QLatin1String(folder));
            qputenv(name, (root() + QLatin1String(folder)).toLocal8Bit());
        }
    }
    QFile::setPermissions(root() + QStringLiteral("runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir().mkpath(root() + QStringLiteral("work"));
    // A bus address where nothing listens: the desktop's real session bus is never reached.
    qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + root() + "no-session-bus").toLocal8Bit());
    QDir::setCurrent(root() + QStringLiteral("work"));
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

void CEnvironmentTest::init()
{
    QVERIFY(CTestEnvironment::renew(environment));
    dir = environment->root();
}
