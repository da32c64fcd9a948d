#include "diagnostics/CLog.h"

#include "common/CTestChild.h"
#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"
#include "diagnostics/CLogRecord.h"
#include "threading/threads/CBasicThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QDeadlineTimer>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

const QString timePattern = QStringLiteral(R"(\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d:\d\d\d)");

// The pattern of a whole log file: start block, the given lines, stop block.
QString filePattern(const QString& lines, const QString& before = QString())
{
    const QString separator = QString(80, QLatin1Char('-')) + QLatin1Char('\n');
    return QLatin1Char('^') + QRegularExpression::escape(before) + separator +
           QStringLiteral("Start logging: ") + timePattern + QLatin1Char('\n') + separator + lines +
           separator + QStringLiteral("Stop logging: ") + timePattern + QLatin1Char('\n') +
           separator + QLatin1Char('$');
}

QString line(const char* tag, const QString& text)
{
    return timePattern + QRegularExpression::escape(QLatin1String(tag) + text) + QLatin1Char('\n');
}

QString readFile(const QString& path)
{
    return QString::fromUtf8(CTestTree::content(path));
}

QtMessageHandler currentHandler()
{
    const QtMessageHandler handler = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(handler);
    return handler;
}

const int workLine = __LINE__ + 4;
void logWork()
{
    SY_FUNCTION("Logger::work");
    SY_WARNING << "work on" << QStringLiteral("a \"quoted\" string") << 7;
}

// The record logWork() makes, after the thread's part of it.
QString workText()
{
    return QStringLiteral("[ tst_CLog.cpp : %1 : Logger::work ] work on a \"quoted\" string 7")
        .arg(workLine);
}

// The whole record logWork() makes on a thread ("number : description").
QRegularExpression workRecord(const QString& thread)
{
    return QRegularExpression(QLatin1Char('^') +
                              QRegularExpression::escape("[ " + thread + " ] " + workText()) +
                              QLatin1Char('$'));
}

class Worker : public CBasicThread
{
public:
    using CBasicThread::CBasicThread;

protected:
    int runMethod() override
    {
        logWork();
        return 0;
    }
};

} // namespace

#define QVERIFY_MATCH(pattern, text)                                                               \
    QVERIFY2(QRegularExpression(pattern).match(text).hasMatch(),                                   \
             qPrintable(QStringLiteral("text:\n%1\npattern:\n%2").arg(text, pattern)))

class tst_CLog : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void recordPrefix();
    void fileContents_data();
    void fileContents();
    void newFilePerRun();
    void missingFolder();
    void splitByThread_data();
    void splitByThread();
    void replacedWhileThreadsLog();

private:
    QString logDir;
    QtMessageHandler testHandler = nullptr;
};

void tst_CLog::init()
{
    // A writer replaces QtTest's own handler; it comes back after each case.
    testHandler = currentHandler();
    CEnvironmentTest::init();
    logDir = environment->makeDir(QStringLiteral("logs"));
}

void tst_CLog::cleanup()
{
    qInstallMessageHandler(testHandler);
    environment.reset();
}

// Without a writer the records reach the test's own handler.
void tst_CLog::recordPrefix()
{
    QTest::ignoreMessage(QtWarningMsg, workRecord(QStringLiteral("-1 : MainThread")));
    logWork();
    const qint32 number = CBasicThread::threadCount() + 1;
    QTest::ignoreMessage(
        QtDebugMsg,
        QRegularExpression(
            QStringLiteral(R"(^\[ -1 : MainThread \] \[ CBasicThread\.cpp : \d+ )"
                           R"(: CBasicThread::CBasicThread \] )") +
            QRegularExpression::escape(
                QStringLiteral("Thread ( %1 Z\u00e4hler ) registering ...").arg(number)) +
            QLatin1Char('$')));
    QTest::ignoreMessage(QtWarningMsg, workRecord(QStringLiteral("%1 : Z\u00e4hler").arg(number)));
    Worker worker(std::string("Z\xc3\xa4hler"));
    QVERIFY(worker.startThread());
    QVERIFY(worker.wait(10000));
}

void tst_CLog::fileContents_data()
{
    QTest::addColumn<quint32>("level");
    QTest::addColumn<quint32>("mode");
    QTest::addColumn<QString>("written");
    QTest::newRow("none, overwrite") << quint32(LogNone) << quint32(OverwriteFile) << QString();
    QTest::newRow("critical, append")
        << quint32(LogCritical) << quint32(AppendToFile) << line(" [Critical] ", "c 3");
    QTest::newRow("warning, overwrite") << quint32(LogWarning) << quint32(OverwriteFile)
                                        << line(" [Warning]  ", "w") + line(" [Critical] ", "c 3");
    QTest::newRow("debug, append")
        << quint32(LogDebug) << quint32(AppendToFile)
        << line(" [Debug]    ", "d") + line(" [Warning]  ", "w") + line(" [Critical] ", "c 3");
}

void tst_CLog::fileContents()
{
    QFETCH(quint32, level);
    QFETCH(quint32, mode);
    QFETCH(QString, written);
    const QString path = environment->writeFile(QStringLiteral("logs/app.log"), "old line\n");
    CLog log(QStringLiteral("app.log"));
    QVERIFY(log.setupLog(logDir, level, TargetFile, mode, false));
    qDebug("d");
    qWarning("w");
    qCritical() << "c" << 3;
    log.stop();
    QCOMPARE(QDir(logDir).entryList(QDir::Files), QStringList{QStringLiteral("app.log")});
    QVERIFY_MATCH(filePattern(written, mode == AppendToFile ? "old line\n" : ""), readFile(path));
}

void tst_CLog::newFilePerRun()
{
    // Names of the coming milliseconds are taken: the writer must look further.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList taken;
    for (int ms = 0; ms < 30; ++ms) {
        taken.append(now.addMSecs(ms).toString(QStringLiteral("yyyyMMddhhmmsszzz'_log.txt'")));
        QVERIFY(QFile(logDir + taken.last()).open(QIODevice::WriteOnly));
    }
    CLog first;
    CLog second;
    QVERIFY(first.setupLog(logDir, LogWarning, TargetFile, NewFilePerRun, false));
    QVERIFY(second.setupLog(logDir, LogWarning, TargetFile, NewFilePerRun, false));
    QVERIFY_MATCH(QStringLiteral(R"(^\d{17}_log\.txt$)"), first.currentFileName());
    QVERIFY(!taken.contains(first.currentFileName()) && !taken.contains(second.currentFileName()));
    QVERIFY(first.currentFileName() != second.currentFileName());
    // The last one installed receives the messages.
    qWarning("to the second");
    first.stop();
    second.stop();
    QVERIFY_MATCH(filePattern(QString()), readFile(logDir + first.currentFileName()));
    QVERIFY_MATCH(filePattern(line(" [Warning]  ", "to the second")),
                  readFile(logDir + second.currentFileName()));
}

void tst_CLog::missingFolder()
{
    CLog log;
    QVERIFY(!log.setupLog(logDir + QStringLiteral("missing/"), LogDebug, TargetFileAndConsole,
                          AppendToFile, false));
    QVERIFY(currentHandler() == testHandler);
    QVERIFY(!QFileInfo::exists(logDir + QStringLiteral("missing")));
}

void tst_CLog::splitByThread_data()
{
    QTest::addColumn<bool>("shortTags");
    QTest::newRow("long tags") << false;
    QTest::newRow("short tags") << true;
}

void tst_CLog::splitByThread()
{
    QFETCH(bool, shortTags);
    CLog log;
    QVERIFY(log.setupLog(logDir, LogWarning, TargetFile, AppendToFile, true));
    log.setShortTags(shortTags);
    Worker worker(false, nullptr, "Zip::Worker");
    QVERIFY(worker.startThread());
    QVERIFY(worker.wait(10000));
    logWork();
    qWarning("no bracket");
    QCOMPARE(log.threadFileNames(),
             (QStringList{QStringLiteral("Zip_log.txt"), QStringLiteral("MainThread_log.txt")}));
    log.stop();
    QVERIFY(log.threadFileNames().isEmpty());
    const char* tag = shortTags ? " [W] " : " [Warning]  ";
    const auto work = [&](int number, const char* description) {
        const QString bracket = shortTags
                                    ? QStringLiteral("[%1]").arg(number)
                                    : QStringLiteral("[ %1 : %2 ]").arg(number).arg(description);
        return filePattern(line(tag, bracket + u' ' + workText()));
    };
    QVERIFY_MATCH(work(worker.threadNumber(), "Zip::Worker"),
                  readFile(logDir + QStringLiteral("Zip_log.txt")));
    QVERIFY_MATCH(work(-1, "MainThread"), readFile(logDir + QStringLiteral("MainThread_log.txt")));
    QVERIFY_MATCH(filePattern(line(tag, QStringLiteral("no bracket"))),
                  readFile(logDir + QStringLiteral("log.txt")));
}

// Writers are installed, replaced and destroyed while two threads keep logging. Run in a child:
// the records that find no writer go to the default output.
void tst_CLog::replacedWhileThreadsLog()
{
    if (!CTestChild::isChild()) {
        QVERIFY(CTestChild::run("replacedWhileThreadsLog"));
        return;
    }
    const auto logging = [] {
        for (int i = 0; i < 20000; ++i)
            qWarning("racing record");
    };
    const std::unique_ptr<QThread> first(QThread::create(logging));
    const std::unique_ptr<QThread> second(QThread::create(logging));
    first->start();
    second->start();
    const QDeadlineTimer deadline(60000);
    while (!(first->isFinished() && second->isFinished()) && !deadline.hasExpired()) {
        CLog replaced;
        replaced.setLevel(LogNone);
        replaced.start();
        CLog replacing;
        replacing.setLevel(LogNone);
        replacing.start();
    }
    QVERIFY(first->wait(10000));
    QVERIFY(second->wait(10000));
}

QTEST_GUILESS_MAIN(tst_CLog)
#include "tst_CLog.moc"
