#include "fsapi/CFSLock.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Records what the front passes on and answers as told.
class CFakeLock : public IFSLock
{
public:
    CFakeLock(QStringList& calls, bool answer) : calls(calls), answer(answer) {}

    bool getExclusiveLock(const QString& path) override { return note("exclusive", path); }
    bool getWriteLock(const QString& path) override { return note("write", path); }
    bool getReadWriteLock(const QString& path) override { return note("readWrite", path); }
    bool getDeleteLock(const QString& path) override { return note("delete", path); }
    bool releaseLock() override { return note("release", QString()); }
    bool isLocked() const override
    {
        calls.append(QStringLiteral("isLocked"));
        return answer;
    }
    ~CFakeLock() override { calls.append(QStringLiteral("destroyed")); }

private:
    bool note(const char* what, const QString& path)
    {
        calls.append(path.isNull() ? QString::fromLatin1(what)
                                   : QString::fromLatin1(what) + QLatin1Char(' ') + path);
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
    void destructionDestroysPlatformLock();
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
    CFSLock lock(path, std::make_unique<CFakeLock>(calls, answer));
    QCOMPARE(lock.path(), path);
    QCOMPARE(lock.getExclusiveLock(), answer);
    QCOMPARE(lock.getWriteLock(), answer);
    QCOMPARE(lock.getReadWriteLock(), answer);
    QCOMPARE(lock.getDeleteLock(), answer);
    QCOMPARE(lock.isLocked(), answer);
    QCOMPARE(lock.releaseLock(), answer);
    const QString native = QDir::toNativeSeparators(path);
    QCOMPARE(calls,
             QStringList({QStringLiteral("exclusive ") + native, QStringLiteral("write ") + native,
                          QStringLiteral("readWrite ") + native, QStringLiteral("delete ") + native,
                          QStringLiteral("isLocked"), QStringLiteral("release")}));
}

void tst_CFSLock::withoutPlatformLock()
{
    CFSLock lock(QStringLiteral("/tmp/x"), nullptr);
    QVERIFY(!lock.getExclusiveLock());
    QVERIFY(!lock.getWriteLock());
    QVERIFY(!lock.getReadWriteLock());
    QVERIFY(!lock.getDeleteLock());
    QVERIFY(!lock.isLocked());
    QVERIFY(lock.releaseLock());
}

void tst_CFSLock::destructionDestroysPlatformLock()
{
    QStringList calls;
    {
        CFSLock lock(QStringLiteral("/x"), std::make_unique<CFakeLock>(calls, true));
    }
    QCOMPARE(calls, QStringList(QStringLiteral("destroyed")));
}

void tst_CFSLock::platformLockConflicts()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Файл.txt"));
    QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    CFSLock first(path);
    CFSLock second(path);
    QVERIFY(first.getDeleteLock());
    QVERIFY(first.isLocked());
    QVERIFY(second.getWriteLock());
    QVERIFY(second.releaseLock());
    QTest::ignoreMessage(
        QtCriticalMsg, QRegularExpression(QStringLiteral("^\\[ .* \\] \\[ CLinuxFSLock.cpp : \\d+ "
                                                         ": CLinuxFSLock::checkSuccess \\] ")));
    QVERIFY(!second.getExclusiveLock());
    QVERIFY(!second.isLocked());
    QVERIFY(first.releaseLock());
    QVERIFY(!first.isLocked());
    QVERIFY(second.getExclusiveLock());
}

QTEST_GUILESS_MAIN(tst_CFSLock)
#include "tst_CFSLock.moc"
