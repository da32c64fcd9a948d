#include "fsapi/CRetryCounter.h"

#include <QTest>

#include <type_traits>

// Testing as a condition must not turn into arithmetic.
static_assert(!std::is_convertible_v<CRetryCounter, int>);

class tst_CRetryCounter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sequence_data();
    void sequence();
    void attemptsOfARetryLoop_data();
    void attemptsOfARetryLoop();
};

void tst_CRetryCounter::sequence_data()
{
    QTest::addColumn<bool>("initial");
    QTest::addColumn<quint32>("retries");
    QTest::addColumn<QList<bool>>("assignments");
    QTest::addColumn<QList<bool>>("tests");
    QTest::addColumn<QList<quint32>>("remaining");

    QTest::newRow("two retries, always again")
        << true << 2u << QList<bool>{true, true, true} << QList<bool>{true, true, false}
        << QList<quint32>{2, 1, 0};
    QTest::newRow("false stops at once")
        << true << 2u << QList<bool>{false} << QList<bool>{false} << QList<quint32>{3};
    QTest::newRow("false after one retry") << true << 2u << QList<bool>{true, false}
                                           << QList<bool>{true, false} << QList<quint32>{2, 2};
    QTest::newRow("no retries") << true << 0u << QList<bool>{true} << QList<bool>{false}
                                << QList<quint32>{0};
    QTest::newRow("used up stays at zero") << true << 0u << QList<bool>{true, true}
                                           << QList<bool>{false, false} << QList<quint32>{0, 0};
    QTest::newRow("initially false, then asked")
        << false << 1u << QList<bool>{true, true} << QList<bool>{true, false}
        << QList<quint32>{1, 0};
}

void tst_CRetryCounter::sequence()
{
    QFETCH(bool, initial);
    QFETCH(quint32, retries);
    QFETCH(QList<bool>, assignments);
    QFETCH(QList<bool>, tests);
    QFETCH(QList<quint32>, remaining);

    CRetryCounter counter(initial, retries);
    QCOMPARE(counter.getRetries(), retries);
    QCOMPARE(counter.getRemaining(), retries + 1);
    QCOMPARE(bool(counter), initial);
    for (qsizetype i = 0; i < assignments.size(); ++i) {
        counter = assignments.at(i);
        QCOMPARE(bool(counter), tests.at(i));
        QCOMPARE(counter.getRemaining(), remaining.at(i));
    }
}

void tst_CRetryCounter::attemptsOfARetryLoop_data()
{
    QTest::addColumn<quint32>("retries");
    QTest::addColumn<int>("succeedAt");
    QTest::addColumn<int>("attempts");
    QTest::newRow("never succeeds, 2 retries") << 2u << 0 << 3;
    QTest::newRow("succeeds at once") << 2u << 1 << 1;
    QTest::newRow("succeeds at the second") << 2u << 2 << 2;
    QTest::newRow("never succeeds, no retries") << 0u << 0 << 1;
}

void tst_CRetryCounter::attemptsOfARetryLoop()
{
    QFETCH(quint32, retries);
    QFETCH(int, succeedAt);
    QFETCH(int, attempts);
    CRetryCounter counter(true, retries);
    int made = 0;
    do {
        ++made;
        counter = made != succeedAt;
    } while (counter);
    QCOMPARE(made, attempts);
}

QTEST_GUILESS_MAIN(tst_CRetryCounter)
#include "tst_CRetryCounter.moc"
