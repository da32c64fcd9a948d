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

} // namespace

class tst_CLogRecord : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void record_data();
    void record();
};

void tst_CLogRecord::record_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QByteArray>("description");
    QTest::newRow("main thread") << QStringLiteral("main") << QByteArray();
    QTest::newRow("worker") << QStringLiteral("worker") << QByteArray("CBasicThread::CBasicThread");
}

void tst_CLogRecord::record()
{
    QFETCH(QString, where);
    QFETCH(QByteArray, description);
    const QString name = QString::fromUtf8(description);
    const qint32 number = CBasicThread::threadCount() + 1;
    const bool worker = where == QLatin1String("worker");
    if (worker) {
        QTest::ignoreMessage(
            QtDebugMsg,
            exactly(QStringLiteral(R"(\[ -1 : MainThread \] \[ CBasicThread\.cpp : \d+ )"
                                   R"(: CBasicThread::CBasicThread \] )"),
                    QStringLiteral("Thread ( %1 %2 ) registering ...").arg(number).arg(name)));
    }
    QTest::ignoreMessage(
        QtWarningMsg,
        exactly(QString(),
                QStringLiteral("[ %1 ] [ tst_CLogRecord.cpp : %2 : Logger::logSomething ] "
                               "working on a \"quoted\" string 7")
                    .arg(worker ? QStringLiteral("%1 : %2").arg(number).arg(name)
                                : QStringLiteral("-1 : MainThread"))
                    .arg(logLine)));
    if (worker) {
        LoggingWorker thread(description.toStdString());
        QVERIFY(thread.startThread());
        QVERIFY(thread.wait(10000));
    } else {
        logSomething();
    }
}

QTEST_GUILESS_MAIN(tst_CLogRecord)
#include "tst_CLogRecord.moc"
