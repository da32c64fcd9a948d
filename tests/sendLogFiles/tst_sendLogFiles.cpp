#include "common/CTestEnvironment.h"
#include "system/CShellGlobal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <memory>

// Runs the built log sender as a whole on a virtual X display, with its home, desktop and
// working directory in a temporary folder and a stand-in xdg-open that records the requests.
class tst_sendLogFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void fullRun();
    void runWithoutDatabaseLog();

private:
    struct Run
    {
        int exitCode = -1;
        QString standardError;
    };
    Run runProgram();
    QList<QStringList> requests() const;
    // A path under the application data, relative to the test environment's root.
    QString relative(const QString& path) const { return appData.mid(env->root().size()) + path; }

    QString program;
    QProcess xvfb;
    QString display;
    std::unique_ptr<CTestEnvironment> env;
    QString appData;
    QString desktop;
    QString requestLog;
};

namespace {
const QRegularExpression
    archiveName(QStringLiteral("^logs_\\d{4}-\\d\\d-\\d\\d_\\d\\d\\.\\d\\d\\.\\d\\d\\.zip$"));
const QRegularExpression recordLine(
    QStringLiteral("^\\[ -?\\d+ : [^\\]]+ \\] \\[ [^ /\\\\]+\\.cpp : \\d+ : [A-Za-z_:~]+ \\] .*$"));

QStringList zipEntries(const QString& archive)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive});
    if (!unzip.waitForFinished(30000) || unzip.exitCode() != 0)
        return {};
    QStringList names = QString::fromUtf8(unzip.readAllStandardOutput())
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    names.sort();
    return names;
}
} // namespace

void tst_sendLogFiles::initTestCase()
{
    program = qEnvironmentVariable("SY_SENDLOGFILES");
    QVERIFY2(QFileInfo(program).isExecutable(),
             "SY_SENDLOGFILES must name the built sendLogFiles program");
    const QString server = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (server.isEmpty())
        QSKIP("Xvfb is not installed (Debian package xvfb); the program needs a display");
    if (QStandardPaths::findExecutable(QStringLiteral("unzip")).isEmpty())
        QSKIP("unzip is not installed; it reads the archive back");
    // -displayfd lets the server pick a free display and tell us which one.
    xvfb.start(server,
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("640x480x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp")});
    QVERIFY(xvfb.waitForStarted(10000));
    QByteArray number;
    while (!number.contains('\n') && xvfb.waitForReadyRead(15000))
        number += xvfb.readAllStandardOutput();
    QVERIFY2(number.trimmed().toInt() >= 0 && !number.trimmed().isEmpty(),
             qPrintable(QString::fromLocal8Bit(xvfb.readAllStandardError())));
    display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
}

void tst_sendLogFiles::cleanupTestCase()
{
    if (xvfb.state() != QProcess::NotRunning) {
        xvfb.terminate();
        if (!xvfb.waitForFinished(10000))
            xvfb.kill();
        xvfb.waitForFinished(10000);
    }
}

void tst_sendLogFiles::init()
{
    env = std::make_unique<CTestEnvironment>();
    QVERIFY(env->isValid());
    appData = CShellGlobal::getShellSpecialFolderPath(APPDATA);
    QVERIFY2(appData.startsWith(env->root()), qPrintable(appData));
    // A desktop folder with a non-ASCII name: the folder request must name it exactly.
    desktop = env->makeDir(QStringLiteral("home/Arbeitsfläche"));
    env->writeFile(QStringLiteral("home/.config/user-dirs.dirs"),
                   QStringLiteral("XDG_DESKTOP_DIR=\"$HOME/Arbeitsfläche\"\n").toUtf8());
    requestLog = env->root() + QStringLiteral("requests");
    const QString standIn =
        env->writeFile(QStringLiteral("bin/xdg-open"),
                       QStringLiteral("#!/bin/sh\nprintf '%s\\t%s\\n' \"$$\" \"$*\" >> '%1'\n")
                           .arg(requestLog)
                           .toUtf8());
    QVERIFY(QFile::setPermissions(standIn, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner));

    const QString logs = relative(QStringLiteral("Syncarium/logs/"));
    const QString backup = relative(QStringLiteral("Syncarium/logs_backup/"));
    env->writeFile(logs + QStringLiteral("Syncarium.log"), "2026-12-05 09:00:00 started\n");
    env->writeFile(backup + QStringLiteral("Syncarium_2026-12-03.log"), "sync ok\n");
    env->writeFile(backup + QStringLiteral("Syncarium_2026-12-04.log"), "sync failed\n");
}

void tst_sendLogFiles::cleanup()
{
    env.reset();
}

tst_sendLogFiles::Run tst_sendLogFiles::runProgram()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("PATH"), env->root() + QStringLiteral("bin:") +
                                                   environment.value(QStringLiteral("PATH")));
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QDir::currentPath());
    process.start(program, {});
    Run run;
    if (!process.waitForStarted(10000) || !process.waitForFinished(120000))
        return run;
    run.standardError = QString::fromLocal8Bit(process.readAllStandardError());
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    return run;
}

// The recorded requests in the order they were made: process ids grow in start order, while
// the stand-ins may finish in any order.
QList<QStringList> tst_sendLogFiles::requests() const
{
    QList<QStringList> lines;
    QFile file(requestLog);
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (!line.isEmpty())
                lines.append(QString::fromUtf8(line).split(QLatin1Char('\t')));
        }
    }
    std::sort(lines.begin(), lines.end(), [](const QStringList& a, const QStringList& b) {
        return a.constFirst().toLongLong() < b.constFirst().toLongLong();
    });
    return lines;
}

void tst_sendLogFiles::fullRun()
{
    env->writeFile(relative(QStringLiteral("Syncarium/mysql/data/Syncarium2DataBase.err")),
                   "[ERROR] InnoDB: page checksum mismatch\n");
    const Run run = runProgram();
    QVERIFY2(run.exitCode == 0, qPrintable(run.standardError));

    const QStringList placed = QDir(desktop).entryList(QDir::Files);
    QCOMPARE(placed.size(), 1);
    QVERIFY2(archiveName.match(placed.constFirst()).hasMatch(), qPrintable(placed.constFirst()));
    QVERIFY(QDir::current().entryList(QDir::Files).isEmpty());

    const QString archive = desktop + placed.constFirst();
    QProcess test;
    test.start(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive});
    QVERIFY(test.waitForFinished(30000));
    QCOMPARE(test.exitCode(), 0);
    QCOMPARE(zipEntries(archive),
             QStringList({QStringLiteral("Syncarium.log"), QStringLiteral("Syncarium2DataBase.err"),
                          QStringLiteral("logs_backup/"),
                          QStringLiteral("logs_backup/Syncarium_2026-12-03.log"),
                          QStringLiteral("logs_backup/Syncarium_2026-12-04.log")}));

    QTRY_COMPARE_WITH_TIMEOUT(requests().size(), 2, 15000);
    const QList<QStringList> made = requests();
    QVERIFY(made.at(0).at(1).startsWith(QStringLiteral("https://")));
    QVERIFY(made.at(0).at(1).endsWith(QStringLiteral("&os=&syVersion=&lastVersion=&isUSB=&lang=")));
    QCOMPARE(QUrl(made.at(1).at(1)).toLocalFile(), desktop);

    int records = 0;
    for (const QString& line : run.standardError.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1Char('[')))
            continue;
        QVERIFY2(recordLine.match(line).hasMatch(), qPrintable(line));
        ++records;
    }
    QVERIFY2(records > 0, qPrintable(run.standardError));
}

void tst_sendLogFiles::runWithoutDatabaseLog()
{
    const Run run = runProgram();
    QVERIFY2(run.exitCode == 0, qPrintable(run.standardError));
    const QRegularExpression record(
        QStringLiteral("^\\[ -1 : MainThread \\] \\[ CLogFilesSender\\.cpp : \\d+ : "
                       "CLogFilesSender::zipAndSendLogFiles \\] failed to copy ") +
            QRegularExpression::escape(
                appData + QStringLiteral("Syncarium/mysql/data/Syncarium2DataBase.err")) +
            QLatin1Char('$'),
        QRegularExpression::MultilineOption);
    QVERIFY2(record.match(run.standardError).hasMatch(), qPrintable(run.standardError));
    QCOMPARE(QDir(desktop).entryList(QDir::Files).size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(requests().size(), 2, 15000);
}

QTEST_GUILESS_MAIN(tst_sendLogFiles)
#include "tst_sendLogFiles.moc"
