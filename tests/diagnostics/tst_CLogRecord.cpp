#include "diagnostics/CLogRecord.h"
#include "threading/threads/CBasicThread.h"

#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include <memory>

namespace {

QMutex capturedMutex;
QStringList captured;

void capture(QtMsgType, const QMessageLogContext&, const QString& text)
{
    const QMutexLocker locker(&capturedMutex);
    captured.append(text);
}

// Keeps every record of its lifetime, from any thread.
class Capture
{
public:
    Capture()
    {
        captured.clear();
        previous = qInstallMessageHandler(&capture);
    }
    ~Capture() { qInstallMessageHandler(previous); }
    QStringList records() const
    {
        const QMutexLocker locker(&capturedMutex);
        return captured;
    }

private:
    QtMessageHandler previous;
};

class LoggingWorker : public CBasicThread
{
public:
    using CBasicThread::CBasicThread;
    int line = 0;

protected:
    int runMethod() override
    {
        SY_FUNCTION("LoggingWorker::runMethod");
        line = __LINE__ + 1;
        SY_WARNING << "working on" << QStringLiteral("two words") << 7;
        return 0;
    }
};

} // namespace

class tst_CLogRecord : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mainThreadRecord();
    void explicitFunctionName();
    void workerRecord();
    void nonLatinDescription();
    void foreignThreadRecord();
    void constructorRecord();
    void fileName_data();
    void fileName();
};

void tst_CLogRecord::mainThreadRecord()
{
    SY_FUNCTION("tst_CLogRecord::mainThreadRecord");
    const Capture capture;
    const int line = __LINE__ + 1;
    SY_DEBUG << "text" << QStringLiteral("a \"quoted\" string") << 42;
    QCOMPARE(capture.records(),
             QStringList{QStringLiteral("[ -1 : MainThread ] [ tst_CLogRecord.cpp : %1 : "
                                        "tst_CLogRecord::mainThreadRecord ] text a \"quoted\" "
                                        "string 42")
                             .arg(line)});
}

void tst_CLogRecord::explicitFunctionName()
{
    const Capture capture;
    const int line = __LINE__ + 1;
    SY_CRITICAL_AT("Some::where") << "x";
    QCOMPARE(capture.records(),
             QStringList{QStringLiteral("[ -1 : MainThread ] [ tst_CLogRecord.cpp : %1 : "
                                        "Some::where ] x")
                             .arg(line)});
}

void tst_CLogRecord::workerRecord()
{
    LoggingWorker worker(false, nullptr, "Zip::Worker");
    const Capture capture;
    QVERIFY(worker.startThread());
    QVERIFY(worker.wait(10000));
    const QString expected = QStringLiteral("[ %1 : Zip::Worker ] [ tst_CLogRecord.cpp : %2 : "
                                            "LoggingWorker::runMethod ] working on two words 7")
                                 .arg(worker.threadNumber())
                                 .arg(worker.line);
    QVERIFY2(capture.records().contains(expected), qPrintable(capture.records().join('\n')));
}

void tst_CLogRecord::nonLatinDescription()
{
    LoggingWorker worker(std::string("Z\xc3\xa4hler"));
    const Capture capture;
    QVERIFY(worker.startThread());
    QVERIFY(worker.wait(10000));
    const QString expected = QStringLiteral("[ %1 : Z\u00e4hler ] [ tst_CLogRecord.cpp : %2 : "
                                            "LoggingWorker::runMethod ] working on two words 7")
                                 .arg(worker.threadNumber())
                                 .arg(worker.line);
    QVERIFY2(capture.records().contains(expected), qPrintable(capture.records().join('\n')));
}

void tst_CLogRecord::foreignThreadRecord()
{
    const Capture capture;
    int line = 0;
    std::unique_ptr<QThread> foreign(QThread::create([&line] {
        SY_FUNCTION("Foreign::run");
        line = __LINE__ + 1;
        SY_DEBUG << "outside";
    }));
    foreign->start();
    QVERIFY(foreign->wait(10000));
    QCOMPARE(capture.records(),
             QStringList{QStringLiteral("[ -1 : MainThread ] [ tst_CLogRecord.cpp : %1 : "
                                        "Foreign::run ] outside")
                             .arg(line)});
}

void tst_CLogRecord::constructorRecord()
{
    const Capture capture;
    const CBasicThread thread;
    const QRegularExpression expected(
        QStringLiteral("^\\[ -1 : MainThread \\] \\[ CBasicThread\\.cpp : \\d+ : "
                       "CBasicThread::CBasicThread \\] Thread \\( %1 CBasicThread::CBasicThread "
                       "\\) registering \\.\\.\\.$")
            .arg(thread.threadNumber()));
    const QStringList records = capture.records();
    QCOMPARE(records.size(), 1);
    QVERIFY2(expected.match(records.first()).hasMatch(), qPrintable(records.first()));
}

void tst_CLogRecord::fileName_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("library path") << QByteArray("../../../src/threading/threads/CBasicThread.cpp")
                                  << QStringLiteral("CBasicThread.cpp");
    QTest::newRow("bare name") << QByteArray("CZipper.cpp") << QStringLiteral("CZipper.cpp");
    QTest::newRow("trailing separator") << QByteArray("src/") << QString();
    QTest::newRow("other platform's separator")
        << QByteArray("..\\src\\a.cpp") << QStringLiteral("..\\src\\a.cpp");
    QTest::newRow("non-ASCII") << QByteArray("src/\xd0\xb6\xd1\x83\xd1\x80.cpp")
                               << QStringLiteral("\u0436\u0443\u0440.cpp");
}

void tst_CLogRecord::fileName()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, expected);
    QCOMPARE(CLogRecord::fileName(path.constData()), expected);
}

QTEST_GUILESS_MAIN(tst_CLogRecord)
#include "tst_CLogRecord.moc"
