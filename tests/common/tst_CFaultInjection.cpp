#include "common/CFaultInjection.h"
#include "common/CTestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTest>

// The fault shim itself: a test that trusts it to strike must first see it strike.
class tst_CFaultInjection : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void failsTheNthCall();
    void killsAtEveryPoint();
};

namespace {

// Writes two files of three writes each below the shim's folder, each flushed on its own.
bool writeTwoFiles(const QString& folder)
{
    for (const char* name : {"a", "b"}) {
        QFile file(folder + QLatin1Char('/') + QLatin1String(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        for (const char* part : {"one ", "two ", "three"})
            if (file.write(part) < 0)
                return false;
    }
    return true;
}

} // namespace

void tst_CFaultInjection::failsTheNthCall()
{
    if (CFaultInjection::isInjected()) {
        CFaultInjection::arm();
        const bool written = writeTwoFiles(CFaultInjection::folder());
        CFaultInjection::disarm();
        // Only the fifth write fails: the second file's second part.
        QVERIFY(!written);
        return;
    }
    const QString folder = environment->makeDir("shim").chopped(1);
    CFaultPlan plan;
    plan.calls = QStringLiteral("write");
    plan.pathPrefix = folder;
    plan.at = 5;
    plan.error = ENOSPC;
    const CFaultOutcome outcome = CFaultInjection::runCurrentCase(plan);
    QVERIFY2(outcome.passed, outcome.output.constData());
    QCOMPARE(outcome.calls, 5);
    QFile second(folder + "/b");
    QVERIFY(second.open(QIODevice::ReadOnly));
    QCOMPARE(second.readAll(), QByteArray("one "));
}

void tst_CFaultInjection::killsAtEveryPoint()
{
    if (CFaultInjection::isInjected()) {
        CFaultInjection::arm();
        QVERIFY(writeTwoFiles(CFaultInjection::folder()));
        return;
    }
    const QString folder = environment->makeDir("shim").chopped(1);
    CFaultPlan plan;
    plan.calls = QStringLiteral("open,write,close");
    plan.pathPrefix = folder;
    QList<qint64> sizes;
    const int points = CFaultInjection::killSweep(
        plan, [&] { QDir(folder).removeRecursively(), QDir().mkpath(folder); },
        [&](int) { sizes.append(QFileInfo(folder + "/b").size()); });
    // Two opens, six writes and two closes; the second file grows write by write.
    QCOMPARE(points, 10);
    QCOMPARE(sizes, (QList<qint64>{0, 0, 0, 0, 0, 0, 0, 4, 8, 13}));
}

QTEST_GUILESS_MAIN(tst_CFaultInjection)
#include "tst_CFaultInjection.moc"
