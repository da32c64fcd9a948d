#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"
#include "common/CZipListing.h"
#include "system/CShellGlobal.h"

#include <QDirIterator>
#include <QLockFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <algorithm>

#include <signal.h>
#include <unistd.h>

// Runs the built log sender as a whole on a virtual X display, with its home, desktop and
// working directory in a temporary folder and a stand-in xdg-open that records the requests.
class tst_sendLogFiles : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void fullRun();
    void noDisplay_data();
    void noDisplay();
    void toldTheUser_data();
    void toldTheUser();
    void endSignals_data();
    void endSignals();

private:
    // The program's environment in the case's on platform; no platform: without a display.
    QProcessEnvironment variables(const QString& platform = "offscreen") const;
    // Starts the program in the case's environment on platform.
    void start(QProcess& process, const QString& platform = "offscreen") const;

    QString program;
    QProcess xvfb;
    QString display;
};

namespace {
// The recorded requests in the order they were made: process ids grow in start order, while
// the stand-ins may finish in any order.
QList<QStringList> requests(const CTestEnvironment& env)
{
    QList<QStringList> lines;
    QFile file(env.root() + "requests");
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (!line.isEmpty())
                lines.append(QString::fromUtf8(line).split('\t'));
        }
    }
    std::sort(lines.begin(), lines.end(), [](const QStringList& a, const QStringList& b) {
        return a.constFirst().toLongLong() < b.constFirst().toLongLong();
    });
    return lines;
}

// The desktop folder named desktop, a stand-in xdg-open and, if asked, the client's logs.
bool writeSample(const CTestEnvironment& env, const QString& desktop, bool withLogs = true)
{
    env.makeDir("home/" + desktop);
    env.writeFile("home/.config/user-dirs.dirs",
                  QString("XDG_DESKTOP_DIR=\"$HOME/%1\"\n").arg(desktop).toUtf8());
    const QString standIn = env.writeFile(
        "bin/xdg-open", QString("#!/bin/sh\nprintf '%s\\t%s\\n' \"$$\" \"$*\" >> '%1'\n")
                            .arg(env.root() + "requests")
                            .toUtf8());
    if (!QFile::setPermissions(standIn, QFileDevice::ReadOwner | QFileDevice::ExeOwner))
        return false;
    return !withLogs ||
           CTestTree::make(
               CShellGlobal::getShellSpecialFolderPath(APPDATA) + "Syncarium/",
               "logs/Syncarium.log=2026-12-05 09:00:00 started;"
               "logs_backup/Syncarium_2026-12-03.log=sync ok;"
               "logs_backup/Syncarium_2026-12-04.log=sync failed;"
               "mysql/data/Syncarium2DataBase.err=[ERROR] InnoDB: page checksum mismatch");
}

QStringList partialsBelow(const QString& root)
{
    QStringList found;
    QDirIterator it(root, {"*.part"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

// Starts an X server with arguments on a display of its choosing; returns the display's name,
// or nothing when the server did not tell it.
QString startXvfb(QProcess& server, const QStringList& arguments)
{
    // -displayfd lets the server pick a free display and tell us which one.
    server.start(QStandardPaths::findExecutable("Xvfb"),
                 QStringList{"-displayfd", "1", "-nolisten", "tcp"} + arguments);
    QByteArray number;
    while (!number.contains('\n') && server.waitForReadyRead(15000))
        number += server.readAllStandardOutput();
    bool valid = false;
    return number.trimmed().toInt(&valid) >= 0 && valid
               ? ':' + QString::fromLatin1(number.trimmed())
               : QString();
}

// Collects the program's standard error and waits, bounded, for a text in it.
bool waitForError(QProcess& process, QByteArray& error, const QByteArray& text)
{
    for (int round = 0; round < 600 && !error.contains(text); ++round) {
        process.waitForReadyRead(100);
        error += process.readAllStandardError();
        if (process.state() == QProcess::NotRunning)
            break;
    }
    error += process.readAllStandardError();
    return error.contains(text);
}
} // namespace

void tst_sendLogFiles::initTestCase()
{
    program = qEnvironmentVariable("SY_SENDLOGFILES");
    QVERIFY2(QFileInfo(program).isExecutable(), "SY_SENDLOGFILES must name sendLogFiles");
    if (QStandardPaths::findExecutable("Xvfb").isEmpty())
        QSKIP("Xvfb is not installed (Debian package xvfb); the program needs a display");
    display = startXvfb(xvfb, {"-screen", "0", "640x480x24"});
    QVERIFY2(!display.isEmpty(), xvfb.readAllStandardError().constData());
}

void tst_sendLogFiles::cleanupTestCase()
{
    xvfb.terminate();
    if (!xvfb.waitForFinished(10000))
        xvfb.kill();
}

QProcessEnvironment tst_sendLogFiles::variables(const QString& platform) const
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert("PATH", dir + "bin:" + variables.value("PATH"));
    variables.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir + "no-session-bus");
    variables.remove("WAYLAND_DISPLAY");
    variables.remove("XDG_SESSION_TYPE");
    if (platform.isEmpty()) {
        variables.remove("DISPLAY");
        variables.remove("QT_QPA_PLATFORM");
    } else {
        variables.insert("DISPLAY", display);
        variables.insert("QT_QPA_PLATFORM", platform);
    }
    return variables;
}

void tst_sendLogFiles::start(QProcess& process, const QString& platform) const
{
    process.setProcessEnvironment(variables(platform));
    process.start(program, {});
}

void tst_sendLogFiles::fullRun()
{
    // A desktop folder with a non-ASCII name: the folder request must name it exactly.
    QVERIFY(writeSample(*environment, "Arbeitsfläche"));
    const QString desktop = environment->home() + "Arbeitsfläche/";
    QProcess process;
    start(process, "xcb");
    QVERIFY(process.waitForFinished(120000));
    const QString standardError = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             qPrintable(standardError));

    const QStringList placed = QDir(desktop).entryList(QDir::Files);
    QCOMPARE(placed.size(), 1);
    QVERIFY2(placed.constFirst().contains(
                 QRegularExpression("^logs_\\d{4}-\\d\\d-\\d\\d_\\d\\d\\.\\d\\d\\.\\d\\d\\.zip$")),
             qPrintable(placed.constFirst()));
    QVERIFY(QDir::current().entryList(QDir::Files).isEmpty());
    QCOMPARE(CZipListing::checkedNames(desktop + placed.constFirst()),
             (QStringList{"Syncarium.log", "Syncarium2DataBase.err", "logs_backup/",
                          "logs_backup/Syncarium_2026-12-03.log",
                          "logs_backup/Syncarium_2026-12-04.log", "system.txt"}));

    QTRY_COMPARE_WITH_TIMEOUT(requests(*environment).size(), 2, 15000);
    const QList<QStringList> made = requests(*environment);
    QVERIFY(made.at(0).at(1).startsWith("https://"));
    QVERIFY(made.at(0).at(1).endsWith("&os=&syVersion=&lastVersion=&isUSB=&lang="));
    QCOMPARE(QUrl(made.at(1).at(1)).toLocalFile(), desktop);

    const QRegularExpression recordLine(
        "^\\[ -?\\d+ : [^\\]]+ \\] \\[ [^ /\\\\]+\\.cpp : \\d+ : [A-Za-z_:~]+ \\] .*$");
    int records = 0;
    for (const QString& line : standardError.split('\n')) {
        if (line.startsWith('[')) {
            QVERIFY2(recordLine.match(line).hasMatch(), qPrintable(line));
            ++records;
        }
    }
    QVERIFY2(records > 0, qPrintable(standardError));
}

void tst_sendLogFiles::noDisplay_data()
{
    // What the environment offers: "none"; "x-absent": a display no server serves; "x-refusing":
    // a server that wants a cookie the program does not have; "wayland": only a Wayland
    // display, with no compositor and maybe no Wayland platform plugin.
    QTest::addColumn<QString>("offer");
    QTest::addColumn<QString>("platform");
    const auto row = [](const char* tag, const char* offer, const char* platform = "") {
        QTest::newRow(tag) << QString(offer) << QString(platform);
    };
    row("nothing set", "none");
    row("X display without a server", "x-absent");
    row("X display without a server, xcb asked for", "x-absent", "xcb");
    row("X display that refuses the program", "x-refusing");
    row("only a Wayland display", "wayland");
    row("only a Wayland display, wayland asked for", "wayland", "wayland");
}

// Without a display that can be opened the program says so in one line and touches nothing.
void tst_sendLogFiles::noDisplay()
{
    QFETCH(QString, offer);
    QFETCH(QString, platform);
    QVERIFY(writeSample(*environment, "Desktop"));
    QProcessEnvironment changed = variables(QString());
    if (!platform.isEmpty())
        changed.insert("QT_QPA_PLATFORM", platform);
    QProcess refusing;
    const auto stopServer = qScopeGuard([&refusing] {
        refusing.terminate();
        if (!refusing.waitForFinished(10000))
            refusing.kill();
    });
    if (offer == "x-absent") {
        int number = 4242;
        while (QFileInfo::exists(QString("/tmp/.X11-unix/X%1").arg(number)))
            ++number;
        changed.insert("DISPLAY", QString(":%1").arg(number));
    } else if (offer == "x-refusing") {
        const QString xauth = QStandardPaths::findExecutable("xauth");
        if (xauth.isEmpty())
            QSKIP("xauth is not installed (Debian package xauth)");
        const QString cookies = environment->writeFile("server-cookies", "");
        QCOMPARE(QProcess::execute(xauth, {"-q", "-f", cookies, "add", ":0", ".",
                                           "0123456789abcdef0123456789abcdef"}),
                 0);
        const QString refusingDisplay = startXvfb(refusing, {"-auth", cookies});
        QVERIFY(!refusingDisplay.isEmpty());
        changed.insert("DISPLAY", refusingDisplay);
        changed.insert("XAUTHORITY", environment->writeFile("no-cookies", ""));
    } else if (offer == "wayland") {
        changed.insert("WAYLAND_DISPLAY", "wayland-sy-test");
    }
    const QString before = CTestTree::describe(dir, true);
    QProcess process;
    process.setProcessEnvironment(changed);
    process.start(program, {});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.readAllStandardError(),
             QByteArray("no graphical display: set DISPLAY or WAYLAND_DISPLAY\n"));
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(CTestTree::describe(dir, true), before);
}

void tst_sendLogFiles::toldTheUser_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<QByteArray>("told");
    // A second start while a collection runs touches nothing.
    QTest::newRow("second instance") << true << QByteArray("The logs are already being collected");
    QTest::newRow("nothing to pack") << false << QByteArray("No log archive could be made");
}

// The user is told before the support form is requested; the message waits for the user, so
// ending the program is what is left to a test.
void tst_sendLogFiles::toldTheUser()
{
    QFETCH(bool, running);
    QFETCH(QByteArray, told);
    QVERIFY(writeSample(*environment, "Desktop", running));
    QLockFile lock(dir + "runtime/syncarium-sendLogFiles.lock");
    QVERIFY(!running || lock.tryLock(0));
    const QString before = CTestTree::describe(dir, true);
    QProcess process;
    start(process);
    QByteArray error;
    QVERIFY2(waitForError(process, error, "told the user: " + told), error.constData());
    QVERIFY(running || error.contains("could not zip"));
    QVERIFY(requests(*environment).isEmpty());
    process.terminate();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 128 + SIGTERM);
    if (running)
        QCOMPARE(CTestTree::describe(dir, true), before);
    QVERIFY(QDir(dir + "home/Desktop").isEmpty());
    QVERIFY(partialsBelow(dir).isEmpty());
}

void tst_sendLogFiles::endSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    // The terminal it was started from is closed.
    QTest::newRow("SIGHUP") << int(SIGHUP);
    // Nothing can clean up after SIGKILL: the next run does, started elsewhere, and the lock
    // does not hold it up.
    QTest::newRow("SIGKILL, then a new run") << int(SIGKILL);
}

// Ended while packing, the program leaves no partial archive behind.
void tst_sendLogFiles::endSignals()
{
    QFETCH(int, signal);
    QVERIFY(writeSample(*environment, "Desktop"));
    const QString appData = CShellGlobal::getShellSpecialFolderPath(APPDATA);
    // Data that does not compress keeps the packing busy long enough to be interrupted.
    QVERIFY(CTestTree::write(appData + "Syncarium/logs/big.log", CTestTree::noise(64 << 20)));
    QProcess process;
    // On a busy machine the program at the lowest priority still packs when this test, which
    // keeps its own, looks for the partial archive; on an idle one it packs at full speed.
    process.setChildProcessModifier([] {
        errno = 0;
        if (::nice(19) == -1 && errno != 0)
            ::_exit(127);
    });
    start(process, "xcb");
    QVERIFY(process.waitForStarted(30000));
    QTRY_VERIFY_WITH_TIMEOUT(
        !partialsBelow(dir + "work").isEmpty() || process.state() == QProcess::NotRunning, 60000);
    QVERIFY2(process.state() == QProcess::Running, "the packing ended before the signal");
    // Docks and task bars match the window to its menu entry by the class of the X window.
    const QString xprop = QStandardPaths::findExecutable("xprop");
    if (signal == SIGTERM && !xprop.isEmpty()) {
        QSettings entry(qEnvironmentVariable("SY_MENU_ENTRY"), QSettings::IniFormat);
        const QString wmClass = entry.value("Desktop Entry/StartupWMClass").toString();
        QProcess query;
        query.start(xprop, {"-display", display, "-name", "Preparing Logfiles", "WM_CLASS"});
        QVERIFY(query.waitForFinished(10000) && !wmClass.isEmpty());
        QCOMPARE(query.readAllStandardOutput().trimmed(),
                 QString("WM_CLASS(STRING) = \"sendLogFiles\", \"%1\"").arg(wmClass).toUtf8());
    }
    QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
    QVERIFY(process.waitForFinished(30000));
    QVERIFY(QDir(dir + "home/Desktop").isEmpty());
    if (signal != SIGKILL) {
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + signal);
        QVERIFY(partialsBelow(dir).isEmpty());
        return;
    }
    QCOMPARE(partialsBelow(dir).size(), 1);
    QProcess next;
    next.setWorkingDirectory(environment->makeDir("elsewhere"));
    start(next);
    QVERIFY(next.waitForFinished(120000));
    QCOMPARE(next.exitCode(), 0);
    QVERIFY(partialsBelow(dir).isEmpty());
    const QStringList placed = QDir(dir + "home/Desktop").entryList(QDir::Files);
    QCOMPARE(placed.size(), 1);
    QVERIFY(CZipListing(dir + "home/Desktop/" + placed.constFirst()).valid);
    // Nothing of either run is left in the runtime folder: no note, no lock and no copy of the
    // settings with the proxy password.
    QCOMPARE(QDir(dir + "runtime").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
}

QTEST_GUILESS_MAIN(tst_sendLogFiles)
#include "tst_sendLogFiles.moc"
