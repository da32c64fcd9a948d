#include "common/CTestEnvironment.h"
#include "common/CZipListing.h"
#include "system/CShellGlobal.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <algorithm>

// Runs the built log sender as a whole on a virtual X display, with its home, desktop and
// working directory in a temporary folder and a stand-in xdg-open that records the requests.
class tst_sendLogFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void fullRun();

private:
    QString program;
    QProcess xvfb;
    QString display;
};

namespace {
// The recorded requests in the order they were made: process ids grow in start order, while
// the stand-ins may finish in any order.
QList<QStringList> requests(const QString& log)
{
    QList<QStringList> lines;
    QFile file(log);
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
} // namespace

void tst_sendLogFiles::initTestCase()
{
    program = qEnvironmentVariable("SY_SENDLOGFILES");
    QVERIFY2(QFileInfo(program).isExecutable(), "SY_SENDLOGFILES must name sendLogFiles");
    const QString server = QStandardPaths::findExecutable("Xvfb");
    if (server.isEmpty())
        QSKIP("Xvfb is not installed (Debian package xvfb); the program needs a display");
    // -displayfd lets the server pick a free display and tell us which one.
    xvfb.start(server, {"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    QVERIFY(xvfb.waitForStarted(10000));
    QByteArray number;
    while (!number.contains('\n') && xvfb.waitForReadyRead(15000))
        number += xvfb.readAllStandardOutput();
    QVERIFY2(!number.trimmed().isEmpty() && number.trimmed().toInt() >= 0,
             xvfb.readAllStandardError().constData());
    display = ':' + QString::fromLatin1(number.trimmed());
}

void tst_sendLogFiles::cleanupTestCase()
{
    xvfb.terminate();
    if (!xvfb.waitForFinished(10000))
        xvfb.kill();
}

void tst_sendLogFiles::fullRun()
{
    CTestEnvironment env;
    QVERIFY(env.isValid());
    const QString appData = CShellGlobal::getShellSpecialFolderPath(APPDATA).mid(env.root().size());
    // A desktop folder with a non-ASCII name: the folder request must name it exactly.
    const QString desktop = env.makeDir("home/Arbeitsfläche");
    env.writeFile("home/.config/user-dirs.dirs",
                  QString("XDG_DESKTOP_DIR=\"$HOME/Arbeitsfläche\"\n").toUtf8());
    const QString requestLog = env.root() + "requests";
    const QString standIn = env.writeFile(
        "bin/xdg-open",
        QString("#!/bin/sh\nprintf '%s\\t%s\\n' \"$$\" \"$*\" >> '%1'\n").arg(requestLog).toUtf8());
    QVERIFY(QFile::setPermissions(standIn, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    env.writeFile(appData + "Syncarium/logs/Syncarium.log", "2026-12-05 09:00:00 started\n");
    env.writeFile(appData + "Syncarium/logs_backup/Syncarium_2026-12-03.log", "sync ok\n");
    env.writeFile(appData + "Syncarium/logs_backup/Syncarium_2026-12-04.log", "sync failed\n");
    env.writeFile(appData + "Syncarium/mysql/data/Syncarium2DataBase.err",
                  "[ERROR] InnoDB: page checksum mismatch\n");

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("PATH", env.root() + "bin:" + environment.value("PATH"));
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QDir::currentPath());
    process.start(program, {});
    QVERIFY(process.waitForFinished(120000));
    const QString standardError = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             qPrintable(standardError));

    const QStringList placed = QDir(desktop).entryList(QDir::Files);
    QCOMPARE(placed.size(), 1);
    QVERIFY2(QRegularExpression("^logs_\\d{4}-\\d\\d-\\d\\d_\\d\\d\\.\\d\\d\\.\\d\\d\\.zip$")
                 .match(placed.constFirst())
                 .hasMatch(),
             qPrintable(placed.constFirst()));
    QVERIFY(QDir::current().entryList(QDir::Files).isEmpty());
    const CZipListing listing(desktop + placed.constFirst());
    QVERIFY(listing.valid);
    QCOMPARE(listing.sortedNames(),
             (QStringList{"Syncarium.log", "Syncarium2DataBase.err", "logs_backup/",
                          "logs_backup/Syncarium_2026-12-03.log",
                          "logs_backup/Syncarium_2026-12-04.log"}));

    QTRY_COMPARE_WITH_TIMEOUT(requests(requestLog).size(), 2, 15000);
    const QList<QStringList> made = requests(requestLog);
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

QTEST_GUILESS_MAIN(tst_sendLogFiles)
#include "tst_sendLogFiles.moc"
