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
};

void tst_CRetryCounter::sequence_data()
{
    QTest::addColumn<bool>("initial");
    QTest::addColumn<quint32>("retries");
    QTest::addColumn<QList<bool>>("assignments");
    QTest::addColumn<QList<bool>>("tests");
    QTest::addColumn<QList<quint32>>("remaining");
    const auto row = [](const char* name, bool initial, quint32 retries, QList<bool> assignments,
                        QList<bool> tests, QList<quint32> remaining) {
        QTest::newRow(name) << initial << retries << assignments << tests << remaining;
    };
    row("two retries: three attempts", true, 2, {true, true, true}, {true, true, false}, {2, 1, 0});
    row("false stops at once", true, 2, {false}, {false}, {3});
    row("false after one retry", true, 2, {true, false}, {true, false}, {2, 2});
    row("no retries: one attempt", true, 0, {true, true}, {false, false}, {0, 0});
    row("initially false, then asked", false, 1, {true, true}, {true, false}, {1, 0});
}

void tst_CRetryCounter::sequence()
{
    QFETCH(bool, initial);
    QFETCH(quint32, retries);
    QFETCH(QList<bool>, assignments);
    QFETCH(QList<bool>, tests);
    QFETCH(QList<quint32>, remaining);
    CRetryCounter counter(initial, retries);
    QCOMPARE(counter.getRemaining(), retries + 1);
    QCOMPARE(bool(counter), initial);
    for (qsizetype i = 0; i < assignments.size(); ++i) {
        counter = assignments.at(i);
        QCOMPARE(bool(counter), tests.at(i));
        QCOMPARE(counter.getRemaining(), remaining.at(i));
    }
}

QTEST_GUILESS_MAIN(tst_CRetryCounter)
#include "tst_CRetryCounter.moc"
