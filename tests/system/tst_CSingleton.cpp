#include "system/CSingleton.h"

#include "common/CTestThreads.h"

#include <QTest>
#include <QThread>

#include <atomic>
#include <vector>

namespace {

std::atomic<int> s_constructed{0};
std::atomic<int> s_destroyed{0};

class CCounted : public CSingleton<CCounted>
{
public:
    int value = 0;
    ~CCounted() override { ++s_destroyed; }

private:
    friend class CSingleton<CCounted>;
    CCounted()
    {
        ++s_constructed;
        // Widens the window in which a second thread could create another instance.
        QThread::msleep(20);
    }
};

class COther : public CSingleton<COther>
{};

} // namespace

class tst_CSingleton : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void sameInstanceUntilDestroyed();
    void concurrentFirstUseCreatesOne();
};

void tst_CSingleton::init()
{
    s_constructed = 0;
    s_destroyed = 0;
}

void tst_CSingleton::cleanup()
{
    CCounted::destroy();
    COther::destroy();
}

void tst_CSingleton::sameInstanceUntilDestroyed()
{
    QVERIFY(!CCounted::exists());
    CCounted* first = CCounted::instance();
    first->value = 7;
    QCOMPARE(CCounted::instance(), first);
    QVERIFY(CCounted::exists());
    CCounted::destroy();
    QVERIFY(!CCounted::exists());
    QCOMPARE(s_destroyed.load(), 1);
    CCounted::destroy();
    QCOMPARE(s_destroyed.load(), 1);
    QCOMPARE(CCounted::instance()->value, 0);
    QCOMPARE(s_constructed.load(), 2);
    // Deleting the instance clears the pointer as well; another type keeps its own.
    COther* other = COther::instance();
    delete CCounted::instance();
    QVERIFY(!CCounted::exists());
    QCOMPARE(s_destroyed.load(), 2);
    CCounted::instance();
    QCOMPARE(s_constructed.load(), 3);
    QCOMPARE(COther::instance(), other);
    COther::destroy();
    QVERIFY(CCounted::exists());
}

void tst_CSingleton::concurrentFirstUseCreatesOne()
{
    const int count = 8;
    std::vector<CCounted*> seen(count, nullptr);
    QVERIFY(runOnThreads(
        count, [&seen](int i) { seen[i] = CCounted::instance(); }, 10000));
    QCOMPARE(s_constructed.load(), 1);
    for (CCounted* instance : seen)
        QCOMPARE(instance, CCounted::instance());
}

QTEST_GUILESS_MAIN(tst_CSingleton)
#include "tst_CSingleton.moc"
