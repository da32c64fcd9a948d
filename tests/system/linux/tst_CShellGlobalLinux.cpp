#include "system/CShellGlobal.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

namespace {

void expectCritical(const char* function, const QString& text)
{
    CExpect::record(QtCriticalMsg, QStringLiteral("CShellGlobalLinux.cpp"),
                    "CShellGlobalLinux::" + QLatin1String(function), text);
}

} // namespace

class tst_CShellGlobalLinux : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void table_data();
    void table();
    void unknownType();
    void defaults();
    void userDirsFile_data();
    void userDirsFile();
    void relativeVariables_data();
    void relativeVariables();
    void withoutHome();
};

void tst_CShellGlobalLinux::init()
{
    CEnvironmentTest::init();
    environment->writeFile(QStringLiteral("home/.config/user-dirs.dirs"),
                           "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                           "XDG_DOCUMENTS_DIR=\"$HOME/Документы\"\n"
                           "XDG_MUSIC_DIR=\"$HOME/My Music\"\n"
                           "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"
                           "XDG_VIDEOS_DIR=\"$HOME/ビデオ\"\n"
                           "XDG_TEMPLATES_DIR=\"$HOME/Vorlagen\"\n");
}

void tst_CShellGlobalLinux::table_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<quint32>("csidl");
    // Below the test's home folder; null for the folders this platform does not have.
    QTest::addColumn<QString>("underHome");
    const auto row = [](const char* name, ShellSpecialFolderType type, quint32 csidl,
                        const char* underHome = nullptr) {
        QTest::newRow(name) << quint32(type) << csidl << QString::fromUtf8(underHome);
    };
    // The first and the last of the folders this platform does not have, then one row per
    // place a folder can be (the other types of a place differ only in their table entry).
    row("ADMINTOOLS", ADMINTOOLS, 48);
    row("WINDOWS", WINDOWS, 36);
    row("APPDATA", APPDATA, 26, ".local/share/");
    row("DESKTOP", DESKTOP, 0, "Schreibtisch/");
    row("FONTS", FONTS, 20, ".local/share/fonts/");
    row("INTERNET_CACHE", INTERNET_CACHE, 32, ".cache/");
    row("MYDOCUMENTS", MYDOCUMENTS, 5, "Документы/");
    row("MYMUSIC", MYMUSIC, 13, "My Music/");
    row("MYPICTURES", MYPICTURES, 39, "Bilder/");
    row("MYVIDEO", MYVIDEO, 14, "ビデオ/");
    row("PROFILE", PROFILE, 40, "");
    row("PROGRAMS", PROGRAMS, 2, ".local/share/applications/");
    row("STARTUP", STARTUP, 7, ".config/autostart/");
    row("TEMPLATES", TEMPLATES, 21, "Vorlagen/");
}

void tst_CShellGlobalLinux::table()
{
    QFETCH(quint32, type);
    QFETCH(quint32, csidl);
    QFETCH(QString, underHome);
    QCOMPARE(CShellGlobal::getCSIDL(type), csidl);
    if (underHome.isNull())
        expectCritical("getShellSpecialFolderPath",
                       "unable to retrieve shell special folder path for csidl: " +
                           QString::number(csidl));
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(static_cast<ShellSpecialFolderType>(type)),
             underHome.isNull() ? QString() : environment->home() + underHome);
}

void tst_CShellGlobalLinux::unknownType()
{
    expectCritical("getCSIDL", QStringLiteral("unknown shell special folder type 4294967295"));
    QCOMPARE(CShellGlobal::getCSIDL(4294967295u), 0u);
    // 0 is the desktop's number, so an unknown type reaches the desktop.
    expectCritical("getCSIDL", QStringLiteral("unknown shell special folder type 57"));
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(static_cast<ShellSpecialFolderType>(57)),
             environment->home() + "Schreibtisch/");
}

void tst_CShellGlobalLinux::defaults()
{
    // Without user-dirs.dirs and the XDG base variables, the XDG defaults stand.
    QVERIFY(QFile::remove(environment->home() + ".config/user-dirs.dirs"));
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_CACHE_HOME");
    qunsetenv("XDG_CONFIG_HOME");
    const QString home = environment->home();
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(APPDATA), home + ".local/share/");
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(INTERNET_CACHE), home + ".cache/");
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(STARTUP), home + ".config/autostart/");
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(PERSONAL), home + "Documents/");

    // A variable that ends with "/" gets no second one.
    const QString data = environment->makeDir(QStringLiteral("elsewhere/data"));
    qputenv("XDG_DATA_HOME", data.toLocal8Bit());
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(PROGRAMS), data + "applications/");
}

void tst_CShellGlobalLinux::userDirsFile_data()
{
    // user-dirs.dirs as xdg-user-dir reads it (the shell sources it); null content: no file.
    // "%R" stands for the test's root folder; the expected desktop is below the home folder.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const char* content, const char* expected) {
        QTest::newRow(name) << (content ? QByteArray(content) : QByteArray())
                            << QString::fromUtf8(expected);
    };
    row("escaped quotes", "XDG_DESKTOP_DIR=\"$HOME/My \\\"Desk\\\"\"\n", "My \"Desk\"/");
    row("escaped backslash, dollar and backquote",
        "XDG_DESKTOP_DIR=\"$HOME/\\\\ \\$HOME \\`x\\`\"\n", "\\ $HOME `x`/");
    // Inside double quotes the shell keeps a backslash before any other character.
    row("backslash before a letter", "XDG_DESKTOP_DIR=\"$HOME/a\\b\"\n", "a\\b/");
    row("$HOME alone", "XDG_DESKTOP_DIR=\"$HOME\"\n", "");
    row("$HOME with a trailing separator", "XDG_DESKTOP_DIR=\"$HOME/Desk/\"\n", "Desk/");
    row("absolute", "XDG_DESKTOP_DIR=\"%Rhome/Büro \\\"1\\\"\"\n", "Büro \"1\"/");
    // xdg-user-dirs-update, GLib and the toolkit take "$HOME" only; the file they rewrite at
    // login drops any other form.
    row("${HOME}", "XDG_DESKTOP_DIR=\"${HOME}/Desk\"\n", "Desktop/");
    row("$HOME as the start of a longer name", "XDG_DESKTOP_DIR=\"$HOMEDesk\"\n", "Desktop/");
    row("unquoted", "XDG_DESKTOP_DIR=$HOME/Desk\n", "Desktop/");
    row("unterminated", "XDG_DESKTOP_DIR=\"$HOME/Desk\n", "Desktop/");
    row("missing file", nullptr, "Desktop/");
    row("comment", "# XDG_DESKTOP_DIR=\"$HOME/Old\"\n", "Desktop/");
    row("comment after the value", "XDG_DESKTOP_DIR=\"$HOME/Desk\"  # was Old\n", "Desk/");
    row("blanks before the key", " \tXDG_DESKTOP_DIR=\"$HOME/Desk\"\n", "Desk/");
    row("last line wins", "XDG_DESKTOP_DIR=\"$HOME/Old\"\nXDG_DESKTOP_DIR=\"$HOME/New\"\n", "New/");
    row("a later unreadable line leaves the earlier one",
        "XDG_DESKTOP_DIR=\"$HOME/Desk\"\nXDG_DESKTOP_DIR=\"Other\"\n", "Desk/");
}

void tst_CShellGlobalLinux::userDirsFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    const QString file = environment->home() + ".config/user-dirs.dirs";
    QVERIFY(QFile::remove(file));
    if (!content.isNull())
        environment->writeFile(QStringLiteral("home/.config/user-dirs.dirs"),
                               content.replace("%R", QFile::encodeName(environment->root())));
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(DESKTOP), environment->home() + expected);
}

void tst_CShellGlobalLinux::relativeVariables_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("underHome");
    QTest::newRow("XDG_DATA_HOME")
        << QByteArray("XDG_DATA_HOME") << int(APPDATA) << ".local/share/";
    QTest::newRow("XDG_CACHE_HOME")
        << QByteArray("XDG_CACHE_HOME") << int(INTERNET_CACHE) << ".cache/";
    QTest::newRow("XDG_CONFIG_HOME")
        << QByteArray("XDG_CONFIG_HOME") << int(STARTUP) << ".config/autostart/";
    QTest::newRow("XDG_CONFIG_HOME, user folders")
        << QByteArray("XDG_CONFIG_HOME") << int(DESKTOP) << "Schreibtisch/";
}

void tst_CShellGlobalLinux::relativeVariables()
{
    QFETCH(QByteArray, variable);
    QFETCH(int, type);
    QFETCH(QString, underHome);
    // A relative value is ignored; the default below the home folder stands.
    environment->makeDir(QStringLiteral("work/relative/.config"));
    environment->writeFile(QStringLiteral("work/relative/.config/user-dirs.dirs"),
                           "XDG_DESKTOP_DIR=\"$HOME/Wrong\"\n");
    for (const char* value : {"relative", "relative/.config", "./relative"}) {
        qputenv(variable.constData(), value);
        QCOMPARE(CShellGlobal::getShellSpecialFolderPath(static_cast<ShellSpecialFolderType>(type)),
                 environment->home() + underHome);
    }
}

void tst_CShellGlobalLinux::withoutHome()
{
    // Without a usable HOME the account's home folder stands, never the root folder.
    const passwd* account = ::getpwuid(::geteuid());
    const QString accountHome = account ? QFile::decodeName(account->pw_dir) : QString();
    const bool usable = accountHome.startsWith(u'/') && accountHome != QStringLiteral("/");
    const QString expected =
        usable ? QDir::cleanPath(accountHome) + QStringLiteral("/.local/share/") : QString();
    qunsetenv("XDG_DATA_HOME");
    for (const char* home : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        if (home)
            qputenv("HOME", home);
        else
            qunsetenv("HOME");
        if (!usable)
            expectCritical(
                "getShellSpecialFolderPath",
                QStringLiteral("unable to retrieve shell special folder path for csidl: 26"));
        QCOMPARE(CShellGlobal::getShellSpecialFolderPath(APPDATA), expected);
    }
    // A variable of its own still counts.
    const QString data = environment->makeDir(QStringLiteral("elsewhere/data"));
    qputenv("XDG_DATA_HOME", data.toLocal8Bit());
    QCOMPARE(CShellGlobal::getShellSpecialFolderPath(APPDATA), data);
}

QTEST_GUILESS_MAIN(tst_CShellGlobalLinux)
#include "tst_CShellGlobalLinux.moc"
