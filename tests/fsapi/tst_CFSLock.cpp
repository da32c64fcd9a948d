#include "fsapi/CFSLock.h"

#include "common/CExpect.h"
#include "common/CTestTree.h"

#include <QTemporaryDir>
#include <QTest>

class tst_CFSLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void withoutPlatformLock();
    void platformLockConflicts();
};

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
    QVERIFY(first.isLocked());
    QVERIFY(second.getWriteLock());
    QVERIFY(second.releaseLock());
    CExpect::recordMatching(QtCriticalMsg, QStringLiteral("CLinuxFSLock.cpp"),
                            QStringLiteral("CLinuxFSLock::checkSuccess"), QStringLiteral(".*"));
    QVERIFY(!second.getExclusiveLock());
    QVERIFY(!second.isLocked());
    QVERIFY(first.releaseLock());
    QVERIFY(second.getExclusiveLock());
}

QTEST_GUILESS_MAIN(tst_CFSLock)
#include "tst_CFSLock.moc"
