#include "system/linux/CFileManagerLinux.h"

#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QUrl>

bool CFileManagerLinux::showItem(const QString& file, int timeout)
{
    SY_FUNCTION("CFileManagerLinux::showItem");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        SY_DEBUG << "no session bus:" << bus.lastError().message();
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    // The startup id lets a launcher hand over its focus; this program has none to hand over.
    call << QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeout);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    // A desktop without such a file manager is common; one that fails or hangs is worth a word.
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
        SY_DEBUG << "no file manager on the session bus to show" << file;
    else
        SY_WARNING << "the file manager did not show" << file << ":" << reply.errorName()
                   << reply.errorMessage();
    return false;
}
