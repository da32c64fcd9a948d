#include "fsapi/CFSLock.h"

#include "common/CExpect.h"
#include "common/CTestTree.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Notes what the front passes on and answers as told.
class CFakeLock : public IFSLock
{
public:
    CFakeLock(QStringList& calls, bool answer) : calls(calls), answer(answer) {}
    ~CFakeLock() override { calls << QStringLiteral("destroyed"); }

    bool getExclusiveLock(const QString& path) override { return note("exclusive " + path); }
    bool getWriteLock(const QString& path) override { return note("write " + path); }
    bool getReadWriteLock(const QString& path) override { return note("readWrite " + path); }
    bool getDeleteLock(const QString& path) override { return note("delete " + path); }
    bool releaseLock() override { return note(QStringLiteral("release")); }
    bool isLocked() const override { return note(QStringLiteral("isLocked")); }

private:
    bool note(const QString& call) const
    {
        calls << call;
        return answer;
    }

    QStringList& calls;
    bool answer;
};

} // namespace

class tst_CFSLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void forwardsNativePath_data();
    void forwardsNativePath();
    void withoutPlatformLock();
    void platformLockConflicts();
};

void tst_CFSLock::forwardsNativePath_data()
{
    QTest::addColumn<bool>("answer");
    QTest::newRow("granted") << true;
    QTest::newRow("refused") << false;
}

void tst_CFSLock::forwardsNativePath()
{
    QFETCH(bool, answer);
    QStringList calls;
    const QString path = QStringLiteral("/tmp/spaces/ünï/file.txt");
    {
        CFSLock lock(path, std::make_unique<CFakeLock>(calls, answer));
        QCOMPARE(lock.getExclusiveLock(), answer);
        QCOMPARE(lock.getWriteLock(), answer);
        QCOMPARE(lock.getReadWriteLock(), answer);
        QCOMPARE(lock.getDeleteLock(), answer);
        QCOMPARE(lock.isLocked(), answer);
        QCOMPARE(lock.releaseLock(), answer);
    }
    const QString native = QDir::toNativeSeparators(path);
    QCOMPARE(calls, QStringList({"exclusive " + native, "write " + native, "readWrite " + native,
                                 "delete " + native, "isLocked", "release", "destroyed"}));
}

void tst_CFSLock::withoutPlatformLock()
{
    CFSLock lock(QStringLiteral("/tmp/x"), nullptr);
    QVERIFY(!lock.getExclusiveLock());
    QVERIFY(!lock.isLocked());
    QVERIFY(lock.releaseLock());
}

void tst_CFSLock::platformLockConflicts()
{
    QTemporaryDir dir;
    QVERIFY(CTestTree::make(dir.path() + u'/', "Файл.txt=x"));
    CFSLock first(dir.filePath("Файл.txt"));
    CFSLock second(first.path());
    QVERIFY(first.getDeleteLock());
    CExpect::recordMatching(QtCriticalMsg, QStringLiteral("CLinuxFSLock.cpp"),
                            QStringLiteral("CLinuxFSLock::checkSuccess"), QStringLiteral(".*"));
    QVERIFY(!second.getExclusiveLock());
    QVERIFY(first.releaseLock());
    QVERIFY(second.getExclusiveLock());
}

QTEST_GUILESS_MAIN(tst_CFSLock)
#include "tst_CFSLock.moc"
