#include "diagnostics/CLog.h"

#include "common/CTestEnvironment.h"
#include "diagnostics/CLogRecord.h"
#include "threading/threads/CBasicThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

namespace {

const QString timePattern = QStringLiteral(R"(\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d:\d\d\d)");

QString block(const char* title)
{
    const QString separator(80, QLatin1Char('-'));
    return separator + QStringLiteral("\n") + QLatin1String(title) + timePattern +
           QStringLiteral("\n") + separator + QStringLiteral("\n");
}

// A written line whose text matches the given pattern.
QString recordPattern(const char* tag, const QString& pattern)
{
    return timePattern + QRegularExpression::escape(QLatin1String(tag)) + pattern +
           QStringLiteral("\n");
}

QString recordLine(const char* tag, const QString& text)
{
    return recordPattern(tag, QRegularExpression::escape(text));
}

QString readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<missing %1>").arg(path);
    return QString::fromUtf8(file.readAll());
}

QtMessageHandler currentHandler()
{
    const QtMessageHandler handler = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(handler);
    return handler;
}

// Logs one warning record from its own thread.
class Worker : public CBasicThread
{
public:
    Worker(const char* description, const QString& text)
        : CBasicThread(false, nullptr, description), text(text)
    {}

protected:
    int runMethod() override
    {
        SY_FUNCTION("Worker::runMethod");
        SY_WARNING << text;
        return 0;
    }

private:
    QString text;
};

} // namespace

#define QVERIFY_MATCH(pattern, text)                                                               \
    QVERIFY2(QRegularExpression(pattern).match(text).hasMatch(),                                   \
             qPrintable(QStringLiteral("text:\n%1\npattern:\n%2").arg(text, pattern)))

class tst_CLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void defaults();
    void newFilePerRun();
    void levels_data();
    void levels();
    void uniqueNamesWithinOneMillisecond();
    void appendAndOverwrite_data();
    void appendAndOverwrite();
    void unopenableFileInstallsNothing_data();
    void unopenableFileInstallsNothing();
    void unwritableDirectory();
    void configureWithoutDirectory();
    void splitByThread_data();
    void splitByThread();
    void consoleTargets_data();
    void consoleTargets();
    void newLogMessage();
    void changeLogLevel();
    void setters();
    void stopWithoutFiles();
    void producerObject();

private:
    QString logFile(const CLog& log) const { return logDir + log.currentFileName(); }
    QString runChild(int target, bool shortTags, QByteArray* out, QByteArray* err);

    std::unique_ptr<CTestEnvironment> environment;
    QString logDir;
    QtMessageHandler testHandler = nullptr;
};

void tst_CLog::init()
{
    // The writers replace QtTest's own handler; it comes back after each case.
    testHandler = currentHandler();
    environment = std::make_unique<CTestEnvironment>();
    QVERIFY(environment->isValid());
    logDir = environment->makeDir(QStringLiteral("logs"));
}

void tst_CLog::cleanup()
{
    qInstallMessageHandler(testHandler);
    environment.reset();
}

void tst_CLog::defaults()
{
    const CLog log;
    QCOMPARE(log.level(), quint32(LogWarning));
    QCOMPARE(log.target(), quint32(TargetConsole));
    QCOMPARE(log.fileMode(), quint32(NewFilePerRun));
    QCOMPARE(log.splitByThread(), false);
    QCOMPARE(log.fileName(), QStringLiteral("log.txt"));
    QCOMPARE(log.currentFileName(), QStringLiteral("log.txt"));
    QVERIFY(log.threadFileNames().isEmpty());
    QVERIFY(QDir(logDir).isEmpty());
    QVERIFY(currentHandler() == testHandler);
    QCOMPARE(CLog(QStringLiteral("other.log")).fileName(), QStringLiteral("other.log"));
}

void tst_CLog::newFilePerRun()
{
    CLog log;
    const QString before = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd"));
    QVERIFY(log.setupLog(logDir, LogWarning, TargetFile, NewFilePerRun, false));
    QVERIFY(currentHandler() != testHandler);
    QVERIFY_MATCH(QStringLiteral(R"(^\d{17}_log\.txt$)"), log.currentFileName());
    QVERIFY(log.currentFileName().startsWith(before));
    QCOMPARE(QDir(logDir).entryList(QDir::Files), QStringList{log.currentFileName()});
    QVERIFY_MATCH(QLatin1Char('^') + block("Start logging: ") + QLatin1Char('$'),
                  readFile(logFile(log)));
    qWarning("first warning");
    qDebug("a debug message");
    qCritical() << "critical" << 3;
    log.stop();
    QVERIFY(currentHandler() != testHandler);
    QVERIFY_MATCH(QLatin1Char('^') + block("Start logging: ") +
                      recordLine(" [Warning]  ", QStringLiteral("first warning")) +
                      recordLine(" [Critical] ", QStringLiteral("critical 3")) +
                      block("Stop logging: ") + QLatin1Char('$'),
                  readFile(logFile(log)));
}

void tst_CLog::levels_data()
{
    QTest::addColumn<quint32>("level");
    QTest::addColumn<QStringList>("written");
    QTest::newRow("none") << quint32(LogNone) << QStringList();
    QTest::newRow("fatal") << quint32(LogFatal) << QStringList();
    QTest::newRow("critical") << quint32(LogCritical) << QStringList{QStringLiteral("c")};
    QTest::newRow("warning") << quint32(LogWarning)
                             << QStringList{QStringLiteral("w"), QStringLiteral("c")};
    QTest::newRow("debug") << quint32(LogDebug)
                           << QStringList{QStringLiteral("d"), QStringLiteral("w"),
                                          QStringLiteral("c")};
}

void tst_CLog::levels()
{
    QFETCH(quint32, level);
    QFETCH(QStringList, written);
    CLog log;
    QVERIFY(log.setupLog(logDir, level, TargetFile, OverwriteFile, false));
    QCOMPARE(log.isEnabled(QtDebugMsg), level >= LogDebug);
    QCOMPARE(log.isEnabled(QtWarningMsg), level >= LogWarning);
    QCOMPARE(log.isEnabled(QtCriticalMsg), level >= LogCritical);
    QCOMPARE(log.isEnabled(QtFatalMsg), level >= LogFatal);
    qDebug("d");
    qWarning("w");
    qCritical("c");
    log.stop();
    QString records;
    for (const QString& text : std::as_const(written)) {
        const char* tag = text == QLatin1String("d")   ? " [Debug]    "
                          : text == QLatin1String("w") ? " [Warning]  "
                                                       : " [Critical] ";
        records += recordLine(tag, text);
    }
    QVERIFY_MATCH(QLatin1Char('^') + block("Start logging: ") + records + block("Stop logging: ") +
                      QLatin1Char('$'),
                  readFile(logDir + QStringLiteral("log.txt")));
}

void tst_CLog::uniqueNamesWithinOneMillisecond()
{
    // Occupy the names of the coming milliseconds, so that the writer has to look further.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList taken;
    for (int ms = 0; ms < 30; ++ms) {
        const QString name =
            now.addMSecs(ms).toString(QStringLiteral("yyyyMMddhhmmsszzz'_'")) + "log.txt";
        taken.append(name);
        QFile occupied(logDir + name);
        QVERIFY(occupied.open(QIODevice::WriteOnly));
    }
    CLog first;
    CLog second;
    QVERIFY(first.setupLog(logDir, LogWarning, TargetFile, NewFilePerRun, false));
    QVERIFY(second.setupLog(logDir, LogWarning, TargetFile, NewFilePerRun, false));
    QVERIFY(!taken.contains(first.currentFileName()));
    QVERIFY(!taken.contains(second.currentFileName()));
    QVERIFY(first.currentFileName() != second.currentFileName());
    QCOMPARE(QDir(logDir).entryList(QDir::Files).size(), 32);
    // The last one installed receives the messages.
    qWarning("to the second");
    first.stop();
    second.stop();
    QVERIFY(!readFile(logFile(first)).contains(QStringLiteral("to the second")));
    QVERIFY(readFile(logFile(second)).contains(QStringLiteral(" [Warning]  to the second\n")));
}

void tst_CLog::appendAndOverwrite_data()
{
    QTest::addColumn<quint32>("mode");
    QTest::addColumn<bool>("keepsOld");
    QTest::newRow("append") << quint32(AppendToFile) << true;
    QTest::newRow("overwrite") << quint32(OverwriteFile) << false;
}

void tst_CLog::appendAndOverwrite()
{
    QFETCH(quint32, mode);
    QFETCH(bool, keepsOld);
    const QString path = environment->writeFile(QStringLiteral("logs/app.log"), "old line\n");
    CLog log(QStringLiteral("app.log"));
    QVERIFY(log.setupLog(logDir, LogWarning, TargetFile, mode, false));
    QCOMPARE(log.currentFileName(), QStringLiteral("app.log"));
    qWarning("new line");
    log.stop();
    QCOMPARE(QDir(logDir).entryList(QDir::Files), QStringList{QStringLiteral("app.log")});
    QVERIFY_MATCH(QLatin1Char('^') + QLatin1String(keepsOld ? "old line\n" : "") +
                      block("Start logging: ") +
                      recordLine(" [Warning]  ", QStringLiteral("new line")) +
                      block("Stop logging: ") + QLatin1Char('$'),
                  readFile(path));
}

void tst_CLog::unopenableFileInstallsNothing_data()
{
    QTest::addColumn<QString>("directory");
    QTest::addColumn<quint32>("target");
    QTest::addColumn<quint32>("mode");
    QTest::newRow("missing directory, file")
        << QStringLiteral("missing/") << quint32(TargetFile) << quint32(NewFilePerRun);
    QTest::newRow("missing directory, file and console")
        << QStringLiteral("missing/") << quint32(TargetFileAndConsole) << quint32(AppendToFile);
    QTest::newRow("unknown file mode") << QString() << quint32(TargetFile) << quint32(3);
}

void tst_CLog::unopenableFileInstallsNothing()
{
    QFETCH(QString, directory);
    QFETCH(quint32, target);
    QFETCH(quint32, mode);
    CLog log;
    QVERIFY(!log.setupLog(logDir + directory, LogDebug, target, mode, false));
    QVERIFY(currentHandler() == testHandler);
    QTest::ignoreMessage(QtWarningMsg, "still QtTest's");
    qWarning("still QtTest's");
    QVERIFY(QDir(logDir).isEmpty());
}

void tst_CLog::unwritableDirectory()
{
    if (::geteuid() == 0)
        QSKIP("root writes into read-only folders");
    QVERIFY(QFile::setPermissions(logDir, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    CLog log;
    QVERIFY(!log.setupLog(logDir, LogWarning, TargetFile, AppendToFile, false));
    QVERIFY(currentHandler() == testHandler);
    QVERIFY(QFile::setPermissions(logDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner));
    QVERIFY(QDir(logDir).isEmpty());
}

void tst_CLog::configureWithoutDirectory()
{
    CLog log(QStringLiteral("configured.log"));
    log.start();
    // The file lands in the working directory; a later setupLog names the folder.
    log.configure(LogWarning, TargetFile, OverwriteFile, false);
    qWarning("configured");
    log.stop();
    QVERIFY(readFile(QDir::currentPath() + QStringLiteral("/configured.log"))
                .contains(QStringLiteral(" [Warning]  configured\n")));
    QVERIFY(QDir(logDir).isEmpty());
}

void tst_CLog::splitByThread_data()
{
    QTest::addColumn<bool>("shortTags");
    QTest::newRow("long tags") << false;
    QTest::newRow("short tags") << true;
}

void tst_CLog::splitByThread()
{
    SY_FUNCTION("tst_CLog::splitByThread");
    QFETCH(bool, shortTags);
    CLog log;
    QVERIFY(log.setupLog(logDir, LogWarning, TargetFile, AppendToFile, true));
    log.setShortTags(shortTags);
    Worker alpha("alpha", QStringLiteral("alpha's work"));
    Worker beta("Zip::Beta", QStringLiteral("beta's work"));
    QVERIFY(alpha.startThread());
    QVERIFY(alpha.wait(10000));
    QVERIFY(beta.startThread());
    QVERIFY(beta.wait(10000));
    SY_WARNING << "main thread's record";
    qWarning("no bracket");
    const QStringList threadFiles = log.threadFileNames();
    log.stop();

    QCOMPARE(threadFiles,
             (QStringList{QStringLiteral("alpha_log.txt"), QStringLiteral("Zip_log.txt"),
                          QStringLiteral("MainThread_log.txt")}));
    QVERIFY(log.threadFileNames().isEmpty());
    const char* tag = shortTags ? " [W] " : " [Warning]  ";
    const auto bracket = [&](int number, const QString& description) {
        return shortTags ? QStringLiteral("[%1]").arg(number)
                         : QStringLiteral("[ %1 : %2 ]").arg(number).arg(description);
    };
    const auto expectOne = [&](const QString& pattern) {
        return QLatin1Char('^') + block("Start logging: ") + recordPattern(tag, pattern) +
               block("Stop logging: ") + QLatin1Char('$');
    };
    QVERIFY_MATCH(
        expectOne(
            QRegularExpression::escape(bracket(alpha.threadNumber(), QStringLiteral("alpha")) +
                                       QStringLiteral(" [ tst_CLog.cpp : ")) +
            QStringLiteral("\\d+") +
            QRegularExpression::escape(QStringLiteral(" : Worker::runMethod ] alpha's work"))),
        readFile(logDir + QStringLiteral("alpha_log.txt")));
    QVERIFY(readFile(logDir + QStringLiteral("Zip_log.txt"))
                .contains(QString::fromLatin1(tag) +
                          bracket(beta.threadNumber(), QStringLiteral("Zip::Beta")) +
                          QStringLiteral(" [ tst_CLog.cpp : ")));
    QVERIFY(readFile(logDir + QStringLiteral("MainThread_log.txt"))
                .contains(QString::fromLatin1(tag) + bracket(-1, QStringLiteral("MainThread")) +
                          QStringLiteral(" [ tst_CLog.cpp : ")));
    const QString main = readFile(logDir + QStringLiteral("log.txt"));
    QVERIFY_MATCH(expectOne(QStringLiteral("no bracket")), main);
}

QString tst_CLog::runChild(int target, bool shortTags, QByteArray* out, QByteArray* err)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SY_CLOG_CHILD_DIR"), logDir);
    env.insert(QStringLiteral("SY_CLOG_CHILD_TARGET"), QString::number(target));
    env.insert(QStringLiteral("SY_CLOG_CHILD_SHORT"), shortTags ? QStringLiteral("1") : QString());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("consoleTargets")});
    if (!child.waitForFinished(30000))
        return QStringLiteral("child did not finish");
    *out = child.readAllStandardOutput();
    *err = child.readAllStandardError();
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return QStringLiteral("child failed: ") + QString::fromUtf8(*out + *err);
    return QString();
}

void tst_CLog::consoleTargets_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<bool>("debugOnStdout");
    QTest::addColumn<bool>("warningOnStdout");
    QTest::addColumn<bool>("console");
    QTest::addColumn<bool>("file");
    QTest::newRow("output") << int(TargetOutput) << true << true << true << false;
    QTest::newRow("error output") << int(TargetErrorOutput) << false << false << true << false;
    QTest::newRow("console") << int(TargetConsole) << true << false << true << false;
    QTest::newRow("file") << int(TargetFile) << false << false << false << true;
    QTest::newRow("file and console") << int(TargetFileAndConsole) << true << false << true << true;
    QTest::newRow("unknown target") << 9 << false << false << false << false;
}

void tst_CLog::consoleTargets()
{
    if (qEnvironmentVariableIsSet("SY_CLOG_CHILD_DIR")) {
        // The child: log through a writer whose console is the parent's pipe.
        if (QTest::currentDataTag() != QLatin1String("output"))
            return;
        CLog log;
        QVERIFY(log.setupLog(qEnvironmentVariable("SY_CLOG_CHILD_DIR"), LogDebug,
                             qEnvironmentVariableIntValue("SY_CLOG_CHILD_TARGET"), AppendToFile,
                             true));
        log.setShortTags(qEnvironmentVariableIsSet("SY_CLOG_CHILD_SHORT") &&
                         !qEnvironmentVariable("SY_CLOG_CHILD_SHORT").isEmpty());
        qDebug("[ 3 : child ] debug record");
        qWarning("[ 3 : child ] warning record");
        return;
    }
    QFETCH(int, target);
    QFETCH(bool, debugOnStdout);
    QFETCH(bool, warningOnStdout);
    QFETCH(bool, console);
    QFETCH(bool, file);
    QByteArray out;
    QByteArray err;
    const QString failure = runChild(target, true, &out, &err);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QByteArray debugLine = " [Debug]    [ 3 : child ] debug record\n";
    const QByteArray warningLine = " [Warning]  [ 3 : child ] warning record\n";
    if (console) {
        QVERIFY2((debugOnStdout ? out : err).contains(debugLine), (out + err).constData());
        QVERIFY2((warningOnStdout ? out : err).contains(warningLine), (out + err).constData());
    } else {
        QVERIFY2(!(out + err).contains("record"), (out + err).constData());
    }
    // Short tags and short brackets are for files only.
    const QString threadFile = readFile(logDir + QStringLiteral("child_log.txt"));
    if (file) {
        QVERIFY(threadFile.contains(QStringLiteral(" [D] [3] debug record\n")));
        QVERIFY(threadFile.contains(QStringLiteral(" [W] [3] warning record\n")));
    } else {
        QVERIFY(threadFile.startsWith(QStringLiteral("<missing")));
    }
}

void tst_CLog::newLogMessage()
{
    CLog log;
    QVERIFY(log.setupLog(logDir, LogWarning, TargetFile, AppendToFile, false));
    QSignalSpy spy(&log, &CLog::newLogMessage);
    qDebug("filtered");
    qWarning("not a debug record");
    QCOMPARE(spy.count(), 0);
    log.setLevel(LogDebug);
    qDebug() << "passes" << QStringLiteral("the filter");
    log.stop();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("passes \"the filter\""));
}

void tst_CLog::changeLogLevel()
{
    CLog log;
    QSignalSpy spy(&log, &CLog::logLevelChanged);
    log.changeLogLevel(5);
    log.changeLogLevel(LogWarning);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(log.level(), quint32(LogWarning));
    log.changeLogLevel(LogDebug);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<quint32>(), quint32(LogDebug));
    QCOMPARE(log.level(), quint32(LogDebug));
    QCOMPARE(log.setLevel(LogNone), quint32(LogDebug));
    QCOMPARE(spy.count(), 1);
}

void tst_CLog::setters()
{
    CLog log;
    QCOMPARE(log.setTarget(TargetFile), quint32(TargetConsole));
    QCOMPARE(log.target(), quint32(TargetFile));
    QCOMPARE(log.setFileMode(OverwriteFile), quint32(NewFilePerRun));
    QCOMPARE(log.fileMode(), quint32(OverwriteFile));
    QCOMPARE(log.setSplitByThread(true), false);
    QCOMPARE(log.splitByThread(), true);
    QCOMPARE(log.setShortTags(true), false);
    QCOMPARE(log.setShortTags(false), true);
    QCOMPARE(log.setLevel(LogCritical), quint32(LogWarning));
}

void tst_CLog::stopWithoutFiles()
{
    CLog log;
    log.start();
    QVERIFY(currentHandler() != testHandler);
    log.stop();
    const QtMessageHandler afterStop = currentHandler();
    log.start();
    QVERIFY(currentHandler() != afterStop);
    log.stop();
    QVERIFY(currentHandler() == afterStop);
    QVERIFY(QDir(logDir).isEmpty());
    QVERIFY(QDir::current().entryList(QDir::Files).isEmpty());
}

void tst_CLog::producerObject()
{
    CLog log;
    ILogProducer& producer = log;
    QCOMPARE(producer.logProducerObject(), &log);
    ILogProducer plain;
    QCOMPARE(plain.logProducerObject(), nullptr);
}

QTEST_GUILESS_MAIN(tst_CLog)
#include "tst_CLog.moc"
