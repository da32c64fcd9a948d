#include "IniFile/CLogFilesSender.h"
#include "diagnostics/CAssert.h"
#include "diagnostics/CLogRecord.h"
#include "sendLogFiles/SendLogFilesApp.h"
#include "system/CShellGlobal.h"
#include "threading/threads/CCallStack.h"

#include <QApplication>
#include <QCoreApplication>
#include <QObject>
#include <QString>

namespace {
const QString logsFolderSuffix = QCoreApplication::translate("main", "Syncarium/logs/");
const QString logsBackupFolderSuffix =
    QCoreApplication::translate("main", "Syncarium/logs_backup/");
} // namespace

// One collection of the client's logs per start. No event loop runs: the window repaints while
// the sender reports progress, and the program ends once the support form and the archive's
// folder have been requested.
int main(int argc, char* argv[])
{
    SY_FUNCTION("main");
    QApplication application(argc, argv);
    SendLogFilesApp window(nullptr, Qt::Tool | Qt::Popup);
    CLogFilesSender sender(nullptr);
    const bool connResult = QObject::connect(&sender, &CLogFilesSender::zipProgress, &window,
                                             &SendLogFilesApp::onCompressLogs, Qt::AutoConnection);
    SY_ASSERT(connResult);
    window.show();

    const QString applicationData = CShellGlobal::getShellSpecialFolderPath(APPDATA);
    sender.setLogsFolder(applicationData + logsFolderSuffix);
    sender.setLogsBackupFolder(applicationData + logsBackupFolderSuffix);
    sender.zipAndSendLogFiles();
    return 0;
}
