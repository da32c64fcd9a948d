#include "diagnostics/CLogRecord.h"
#include "threading/threads/CBasicThread.h"

#include <QRegularExpression>
#include <QTest>

namespace {

const int logLine = __LINE__ + 4;
void logSomething()
{
    SY_FUNCTION("Logger::logSomething");
    SY_WARNING << "working on" << QStringLiteral("a \"quoted\" string") << 7;
}

class LoggingWorker : public CBasicThread
{
public:
    using CBasicThread::CBasicThread;

protected:
    int runMethod() override
    {
        logSomething();
        return 0;
    }
};

QRegularExpression exactly(const QString& prefixPattern, const QString& text)
{
    return QRegularExpression(QLatin1Char('^') + prefixPattern + QRegularExpression::escape(text) +
                              QLatin1Char('$'));
}

QRegularExpression logged(const QString& thread)
{
    return exactly(QString(),
                   QStringLiteral("[ %1 ] [ tst_CLogRecord.cpp : %2 : Logger::logSomething"
                                  " ] working on a \"quoted\" string 7")
                       .arg(thread)
                       .arg(logLine));
}

} // namespace

class tst_CLogRecord : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mainThread();
    void worker();
};

void tst_CLogRecord::mainThread()
{
    QTest::ignoreMessage(QtWarningMsg, logged(QStringLiteral("-1 : MainThread")));
    logSomething();
}

void tst_CLogRecord::worker()
{
    const qint32 number = CBasicThread::threadCount() + 1;
    QTest::ignoreMessage(
        QtDebugMsg,
        exactly(QStringLiteral(R"(\[ -1 : MainThread \] \[ CBasicThread\.cpp : \d+ )"
                               R"(: CBasicThread::CBasicThread \] )"),
                QStringLiteral("Thread ( %1 Z\u00e4hler ) registering ...").arg(number)));
    QTest::ignoreMessage(QtWarningMsg, logged(QStringLiteral("%1 : Z\u00e4hler").arg(number)));
    LoggingWorker worker(std::string("Z\xc3\xa4hler"));
    QVERIFY(worker.startThread());
    QVERIFY(worker.wait(10000));
}

QTEST_GUILESS_MAIN(tst_CLogRecord)
#include "tst_CLogRecord.moc"
