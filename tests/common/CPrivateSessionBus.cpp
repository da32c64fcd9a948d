#include "common/CPrivateSessionBus.h"

#include <QFile>

namespace {

// A bus listening in the test's folder only, with no service directories: nothing on the
// machine can be activated on it.
const char busConfig[] =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

CPrivateSessionBus::CPrivateSessionBus()
{
    hadAddress = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
    previousAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QString config = folder.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!folder.isValid() || !file.open(QIODevice::WriteOnly) ||
        file.write(QString::fromLatin1(busConfig).arg(folder.path()).toUtf8()) < 0 ||
        !file.flush()) {
        failure = QStringLiteral("could not write the bus configuration");
        return;
    }
    file.close();
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
                  QStringLiteral("--nofork"), QStringLiteral("--nosyslog")});
    if (!daemon.waitForStarted(10000)) {
        failure = QStringLiteral("dbus-daemon did not start: ") + daemon.errorString();
        return;
    }
    while (!daemon.canReadLine() && daemon.waitForReadyRead(10000)) {
    }
    busAddress = QString::fromUtf8(daemon.readLine()).trimmed();
    if (busAddress.isEmpty()) {
        failure = QStringLiteral("dbus-daemon gave no address");
        return;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", busAddress.toUtf8());
}

CPrivateSessionBus::~CPrivateSessionBus()
{
    stopFileManager();
    if (daemon.state() != QProcess::NotRunning) {
        daemon.terminate();
        if (!daemon.waitForFinished(5000)) {
            daemon.kill();
            daemon.waitForFinished(5000);
        }
    }
    if (hadAddress)
        qputenv("DBUS_SESSION_BUS_ADDRESS", previousAddress);
    else
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

bool CPrivateSessionBus::startFileManager(const QString& record, bool hang)
{
    stopFileManager();
    fileManager = std::make_unique<QProcess>();
    QStringList arguments{record};
    if (hang)
        arguments << QStringLiteral("--hang");
    fileManager->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    fileManager->start(QStringLiteral(SY_FAKE_FILEMANAGER), arguments);
    // The service prints its first line once it owns its name on the bus.
    while (fileManager->waitForReadyRead(10000) && !fileManager->canReadLine()) {
    }
    return fileManager->readLine().trimmed() == "ready";
}

void CPrivateSessionBus::stopFileManager()
{
    if (!fileManager)
        return;
    fileManager->kill();
    fileManager->waitForFinished(5000);
    fileManager.reset();
}
