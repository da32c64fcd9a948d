#include "IniFile/settings/CIniFileSettings.h"
#include "IniFile/collector/CLogFilesSender.h"
#include "diagnostics/CAssert.h"
#include "diagnostics/CLogRecord.h"
#include "sendLogFiles/CDisplayCheck.h"
#include "sendLogFiles/CTerminationWatcher.h"
#include "sendLogFiles/SendLogFilesApp.h"
#include "system/CShellGlobal.h"
#include "threading/threads/CCallStack.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLockFile>
#include <QMessageBox>
#include <QObject>
#include <QStandardPaths>
#include <QString>

#include <atomic>
#include <cstdio>

namespace {
const QString logsFolderSuffix = QCoreApplication::translate("main", "Syncarium/logs/");
const QString logsBackupFolderSuffix =
    QCoreApplication::translate("main", "Syncarium/logs_backup/");

const QString menuEntry = QStringLiteral("syncarium-sendlogfiles");

// Set once this process holds the per-user lock: only then are partial archives its own.
std::atomic<bool> collecting{false};

// Long enough for a display to map and paint a small window, short enough not to hold up a
// collection on a display that never paints it.
const int firstPaintTimeout = 2000;

// The progress window is a popup that holds the input, so it goes before a dialog is shown.
void tellUser(SendLogFilesApp& window, const QString& message)
{
    SY_WARNING_AT("main") << "told the user:" << message;
    window.hide();
    QMessageBox box(QMessageBox::Warning,
                    QCoreApplication::translate("main", "Syncarium log sender"), message,
                    QMessageBox::Ok);
    box.exec();
}
} // namespace

// One collection of the client's logs per start and per user. The window handles its events
// while the sender collects on a thread of its own, and the program ends once the support form
// and the archive's folder have been requested.
int main(int argc, char* argv[])
{
    SY_FUNCTION("main");
    // Checked before the application object is made: the toolkit aborts without a display.
    if (!CDisplayCheck::displayAvailable()) {
        std::fputs("no graphical display: set DISPLAY or WAYLAND_DISPLAY\n", stderr);
        return 1;
    }
    if (!CTerminationWatcher::start([] {
            if (collecting)
                CLogFilesSender::removePartialArchives();
        }))
        SY_WARNING << "SIGTERM, SIGINT and SIGHUP end the program without cleaning up";
    QApplication application(argc, argv);
    // Docks and task bars find the window's menu entry by these names: the class of the X
    // window (the entry's StartupWMClass) and the Wayland app_id (the entry's file name).
    QCoreApplication::setApplicationName(menuEntry);
    QGuiApplication::setDesktopFileName(menuEntry);
    // The run ends the program, not its windows: a popup closed by a click elsewhere or the
    // dismissed message must not stop the event handling during the packing.
    application.setQuitOnLastWindowClosed(false);
    SendLogFilesApp window(nullptr, Qt::Tool | Qt::Popup);

    // A second collection would delete the first one's staged copies. The lock names its
    // owner's process, so one left by a killed run is taken over; its age never is, since a
    // large log folder takes a while.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QLockFile lock(runtime + QStringLiteral("/syncarium-sendLogFiles.lock"));
    lock.setStaleLockTime(0);
    if (runtime.isEmpty()) {
        SY_WARNING << "running without the single-instance lock: no runtime folder";
    } else if (!lock.tryLock(0)) {
        if (lock.error() == QLockFile::LockFailedError) {
            tellUser(window, QCoreApplication::translate(
                                 "main", "The logs are already being collected. Please wait "
                                         "until that window has closed."));
            return 1;
        }
        SY_WARNING << "running without the single-instance lock, error" << lock.error();
    }
    collecting = true;

    CLogFilesSender sender(nullptr);
    const bool connResult = QObject::connect(&sender, &CLogFilesSender::zipProgress, &window,
                                             &SendLogFilesApp::onCompressLogs, Qt::AutoConnection);
    SY_ASSERT(connResult);
    QObject::connect(&sender, &CLogFilesSender::entryProgress, &window,
                     &SendLogFilesApp::onEntryProgress);
    QObject::connect(&sender, &CLogFilesSender::verifyStarted, &window,
                     &SendLogFilesApp::onVerifyStarted);
    QObject::connect(&sender, &CLogFilesSender::credentialsMasked, &window,
                     &SendLogFilesApp::onCredentialsMasked);
    QObject::connect(&sender, &CLogFilesSender::failed, &window,
                     [&window](const QString& message) { tellUser(window, message); });
    QObject::connect(&sender, &CLogFilesSender::notice, &window,
                     [&window](const QString& message) { tellUser(window, message); });
    // Painted before the collection starts, so that the window never looks hung.
    window.showPainted(firstPaintTimeout);

    const QString applicationData = CShellGlobal::getShellSpecialFolderPath(APPDATA);
    sender.setLogsFolder(applicationData + logsFolderSuffix);
    sender.setLogsBackupFolder(applicationData + logsBackupFolderSuffix);
    sender.zipAndSendLogFiles();
    // The settings' working copy holds the proxy password: it goes with the program.
    CSingleton<CIniFileSettings>::destroy();
    return 0;
}
