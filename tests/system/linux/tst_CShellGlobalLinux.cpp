#include "system/CShellGlobal.h"

#include "common/CTestEnvironment.h"

#include <QRegularExpression>
#include <QTest>

#include <memory>

namespace {

QRegularExpression record(const char* function, const QString& text)
{
    return QRegularExpression(QStringLiteral("^\\[ .* \\] \\[ CShellGlobalLinux.cpp : \\d+ : ") +
                              QLatin1String(function) + QStringLiteral(" \\] ") +
                              QRegularExpression::escape(text) + QLatin1Char('$'));
}

void expectLookupFailure(quint32 csidl)
{
    QTest::ignoreMessage(
        QtCriticalMsg,
        record("CShellGlobalLinux::getShellSpecialFolderPath",
               QStringLiteral("unable to retrieve shell special folder path for csidl: %1")
                   .arg(csidl)));
}

} // namespace

class tst_CShellGlobalLinux : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void table_data();
    void table();
    void unknownType_data();
    void unknownType();
    void unknownTypeReachesDesktop();
    void baseDirectoryDefaults();
    void userDirectoryDefaults();
    void trailingSeparatorNotDoubled();

private:
    std::unique_ptr<CTestEnvironment> environment;
};

void tst_CShellGlobalLinux::init()
{
    environment = std::make_unique<CTestEnvironment>();
    QVERIFY(environment->isValid());
    environment->writeFile(QStringLiteral("home/.config/user-dirs.dirs"),
                           "# written by the test\n"
                           "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                           "XDG_DOCUMENTS_DIR=\"$HOME/Документы\"\n"
                           "XDG_MUSIC_DIR=\"$HOME/My Music\"\n"
                           "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"
                           "XDG_VIDEOS_DIR=\"$HOME/ビデオ\"\n"
                           "XDG_TEMPLATES_DIR=\"$HOME/Vorlagen\"\n");
}

void tst_CShellGlobalLinux::cleanup()
{
    environment.reset();
}

void tst_CShellGlobalLinux::table_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<quint32>("csidl");
    // Below the test's home folder; null for folders this platform does not have.
    QTest::addColumn<QString>("underHome");
    struct Row
    {
        const char* name;
        quint32 type;
        quint32 csidl;
        const char* underHome;
    };
    const Row rows[] = {
        {"ADMINTOOLS", 0, 48, nullptr},
        {"ALTSTARTUP", 1, 29, nullptr},
        {"APPDATA", 2, 26, ".local/share/"},
        {"BITBUCKET", 3, 10, nullptr},
        {"CDBURN_AREA", 4, 59, nullptr},
        {"COMMON_ADMINTOOLS", 5, 47, nullptr},
        {"COMMON_ALTSTARTUP", 6, 30, nullptr},
        {"COMMON_APPDATA", 7, 35, nullptr},
        {"COMMON_DESKTOPDIRECTORY", 8, 25, nullptr},
        {"COMMON_DOCUMENTS", 9, 46, nullptr},
        {"COMMON_FAVORITES", 10, 31, nullptr},
        {"COMMON_MUSIC", 11, 53, nullptr},
        {"COMMON_OEM_LINKS", 12, 58, nullptr},
        {"COMMON_PICTURES", 13, 54, nullptr},
        {"COMMON_PROGRAMS", 14, 23, nullptr},
        {"COMMON_STARTMENU", 15, 22, nullptr},
        {"COMMON_STARTUP", 16, 24, nullptr},
        {"COMMON_TEMPLATES", 17, 45, nullptr},
        {"COMMON_VIDEO", 18, 55, nullptr},
        {"COMPUTERSNEARME", 19, 61, nullptr},
        {"CONNECTIONS", 20, 49, nullptr},
        {"CONTROLS", 21, 3, nullptr},
        {"COOKIES", 22, 33, nullptr},
        {"DESKTOP", 23, 0, "Schreibtisch/"},
        {"DESKTOPDIRECTORY", 24, 16, "Schreibtisch/"},
        {"DRIVES", 25, 17, nullptr},
        {"FAVORITES", 26, 6, nullptr},
        {"FONTS", 27, 20, ".local/share/fonts/"},
        {"HISTORY", 28, 34, nullptr},
        {"INTERNET", 29, 1, nullptr},
        {"INTERNET_CACHE", 30, 32, ".cache/"},
        {"LOCAL_APPDATA", 31, 28, ".local/share/"},
        {"MYDOCUMENTS", 32, 5, "Документы/"},
        {"MYMUSIC", 33, 13, "My Music/"},
        {"MYPICTURES", 34, 39, "Bilder/"},
        {"MYVIDEO", 35, 14, "ビデオ/"},
        {"NETHOOD", 36, 19, nullptr},
        {"NETWORK", 37, 18, nullptr},
        {"PERSONAL", 38, 5, "Документы/"},
        {"PRINTERS", 39, 4, nullptr},
        {"PRINTHOOD", 40, 27, nullptr},
        {"PROFILE", 41, 40, ""},
        {"PROGRAM_FILES", 42, 38, nullptr},
        {"PROGRAM_FILESX86", 43, 42, nullptr},
        {"PROGRAM_FILES_COMMON", 44, 43, nullptr},
        {"PROGRAM_FILES_COMMONX86", 45, 44, nullptr},
        {"PROGRAMS", 46, 2, ".local/share/applications/"},
        {"RECENT", 47, 8, nullptr},
        {"RESOURCES", 48, 56, nullptr},
        {"RESOURCES_LOCALIZED", 49, 57, nullptr},
        {"SENDTO", 50, 9, nullptr},
        {"STARTMENU", 51, 11, ".local/share/applications/"},
        {"STARTUP", 52, 7, ".config/autostart/"},
        {"SYSTEM", 53, 37, nullptr},
        {"SYSTEMX86", 54, 41, nullptr},
        {"TEMPLATES", 55, 21, "Vorlagen/"},
        {"WINDOWS", 56, 36, nullptr},
    };
    QCOMPARE(std::size(rows), std::size_t(57));
    for (const Row& row : rows) {
        QTest::newRow(row.name) << row.type << row.csidl
                                << (row.underHome ? QString::fromUtf8(row.underHome) : QString());
    }
}

void tst_CShellGlobalLinux::table()
{
    QFETCH(quint32, type);
    QFETCH(quint32, csidl);
    QFETCH(QString, underHome);
    QCOMPARE(CShellGlobal::getCSIDL(type), csidl);
    if (underHome.isNull())
        expectLookupFailure(csidl);
    const QString expected = underHome.isNull() ? QString() : environment->home() + underHome;
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(static_cast<ShellSpecialFolderType>(type)),
             expected);
}

void tst_CShellGlobalLinux::unknownType_data()
{
    QTest::addColumn<quint32>("type");
    QTest::newRow("57") << 57u;
    QTest::newRow("largest") << 4294967295u;
}

void tst_CShellGlobalLinux::unknownType()
{
    QFETCH(quint32, type);
    QTest::ignoreMessage(QtCriticalMsg,
                         record("CShellGlobalLinux::getCSIDL",
                                QStringLiteral("unknown shell special folder type %1").arg(type)));
    QCOMPARE(CShellGlobal::getCSIDL(type), 0u);
}

void tst_CShellGlobalLinux::unknownTypeReachesDesktop()
{
    QTest::ignoreMessage(QtCriticalMsg,
                         record("CShellGlobalLinux::getCSIDL",
                                QStringLiteral("unknown shell special folder type 57")));
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(static_cast<ShellSpecialFolderType>(57)),
             environment->home() + QStringLiteral("Schreibtisch/"));
}

void tst_CShellGlobalLinux::baseDirectoryDefaults()
{
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_CACHE_HOME");
    qunsetenv("XDG_CONFIG_HOME");
    const QString home = environment->home();
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(APPDATA),
             home + QStringLiteral(".local/share/"));
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(FONTS),
             home + QStringLiteral(".local/share/fonts/"));
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(INTERNET_CACHE),
             home + QStringLiteral(".cache/"));
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(STARTUP),
             home + QStringLiteral(".config/autostart/"));
}

void tst_CShellGlobalLinux::userDirectoryDefaults()
{
    QVERIFY(QFile::remove(environment->home() + QStringLiteral(".config/user-dirs.dirs")));
    const QString home = environment->home();
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(DESKTOP), home + QStringLiteral("Desktop/"));
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(PERSONAL),
             home + QStringLiteral("Documents/"));
}

void tst_CShellGlobalLinux::trailingSeparatorNotDoubled()
{
    const QString data = environment->makeDir(QStringLiteral("elsewhere/data"));
    QVERIFY(data.endsWith(QLatin1Char('/')));
    qputenv("XDG_DATA_HOME", (data + QLatin1Char('/')).toLocal8Bit());
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(LOCAL_APPDATA), data);
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(PROGRAMS),
             data + QStringLiteral("applications/"));
}

QTEST_GUILESS_MAIN(tst_CShellGlobalLinux)
#include "tst_CShellGlobalLinux.moc"
