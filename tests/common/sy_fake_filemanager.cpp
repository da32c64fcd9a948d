// A stand-in for the desktop's file manager: serves org.freedesktop.FileManager1 on the session
// bus and appends each ShowItems call to the file named by its first argument, so that tests
// see what the program asked for. With --hang it takes the calls and never answers them.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QFile>
#include <QObject>
#include <QStringList>

#include <cstdio>

class CFakeFileManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    CFakeFileManager(const QString& record, bool hang) : record(record), hang(hang) {}

public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        QFile file(record);
        if (file.open(QIODevice::Append)) {
            file.write("ShowItems\t" + uris.join(QLatin1Char(' ')).toUtf8() + '\t' +
                       startupId.toUtf8() + '\n');
            file.close();
        }
        if (hang)
            setDelayedReply(true);
    }

private:
    QString record;
    bool hang;
};

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2)
        return 2;
    CFakeFileManager fileManager(arguments.at(1), arguments.contains(QStringLiteral("--hang")));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.FileManager1")))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    return application.exec();
}

#include "sy_fake_filemanager.moc"
