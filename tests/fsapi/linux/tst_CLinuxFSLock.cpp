#include "fsapi/linux/CLinuxFSLock.h"

#include "fsapi/FileSystemExceptions.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <clocale>
#include <cstring>

#include <unistd.h>

namespace {

enum Held
{
    NoLock,
    Exclusive,
    Write,
    ReadWrite,
    Delete
};

const char holdKindVariable[] = "SY_TEST_HOLD_KIND";
const char holdPathVariable[] = "SY_TEST_HOLD_PATH";
const char lockedMarker[] = "HOLDER LOCKED";

bool take(CLinuxFSLock& lock, int held, const QString& path)
{
    switch (held) {
    case Exclusive:
        return lock.getExclusiveLock(path);
    case Write:
        return lock.getWriteLock(path);
    case ReadWrite:
        return lock.getReadWriteLock(path);
    case Delete:
        return lock.getDeleteLock(path);
    }
    return true;
}

// This test program run again as a second process that holds one lock until its input ends.
class CLockHolder
{
public:
    ~CLockHolder() { stop(); }

    bool start(int held, const QString& path)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(holdKindVariable), QString::number(held));
        environment.insert(QLatin1String(holdPathVariable), path);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("holdLock")});
        QByteArray output;
        while (!output.contains(lockedMarker)) {
            if (!process.waitForReadyRead(30000))
                return false;
            output += process.readAllStandardOutput();
        }
        return true;
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.closeWriteChannel();
        if (!process.waitForFinished(30000))
            process.kill();
        process.waitForFinished(30000);
    }

private:
    QProcess process;
};

QRegularExpression record(const QString& function, const QString& text)
{
    return QRegularExpression(QStringLiteral("^\\[ .* \\] \\[ CLinuxFSLock.cpp : \\d+ : ") +
                              QRegularExpression::escape(function) + QStringLiteral(" \\] ") +
                              QRegularExpression::escape(text) + QLatin1Char('$'));
}

QString sharingViolationText()
{
    return QStringLiteral("Resource temporarily unavailable - system error code: %1")
        .arg(CLinuxFSLock::SharingViolation);
}

} // namespace

class tst_CLinuxFSLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void holdLock();

    void systemErrorMessage_data();
    void systemErrorMessage();
    void sharingInProcess_data();
    void sharingInProcess();
    void sharingAcrossProcesses_data();
    void sharingAcrossProcesses();
    void lockAgainstLockAcrossProcesses();
    void pathLengthLimit();
    void emptyPath();
    void secondRequestKeepsFirstLock();
    void missingObject_data();
    void missingObject();
    void releaseAndRelock();
    void destructionReleases();
    void otherErrorsThrow();
    void unreadableFileThrows();
    void writeAccessNeedsWritePermission();
    void failedOpenLeavesNoLock();

private:
    void sharingData();
    QString object(const QString& kind);

    std::unique_ptr<QTemporaryDir> dir;
};

void tst_CLinuxFSLock::initTestCase()
{
    // Messages are compared in English whatever the caller's locale.
    std::setlocale(LC_MESSAGES, "C");
}

void tst_CLinuxFSLock::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

QString tst_CLinuxFSLock::object(const QString& kind)
{
    const QString path = dir->filePath(kind == QLatin1String("file") ? QStringLiteral("f ü.txt")
                                                                     : QStringLiteral("d ü"));
    if (kind == QLatin1String("file")) {
        QFile file(path);
        if (!file.exists() && file.open(QIODevice::WriteOnly))
            file.write("content");
    } else {
        QDir().mkpath(path);
    }
    return path;
}

void tst_CLinuxFSLock::holdLock()
{
    if (!qEnvironmentVariableIsSet(holdKindVariable))
        QSKIP("runs only as the lock-holding second process");
    CLinuxFSLock lock;
    QVERIFY(take(lock, qEnvironmentVariableIntValue(holdKindVariable),
                 qEnvironmentVariable(holdPathVariable)));
    QFile out;
    QVERIFY(out.open(stdout, QIODevice::WriteOnly));
    out.write(QByteArray(lockedMarker) + '\n');
    out.flush();
    QFile in;
    QVERIFY(in.open(stdin, QIODevice::ReadOnly));
    in.readAll();
    QVERIFY(lock.releaseLock());
}

void tst_CLinuxFSLock::systemErrorMessage_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    QTest::newRow("not found") << ENOENT << QStringLiteral("No such file or directory");
    QTest::newRow("sharing violation")
        << CLinuxFSLock::SharingViolation << QStringLiteral("Resource temporarily unavailable");
    QTest::newRow("access denied") << EACCES << QStringLiteral("Permission denied");
    QTest::newRow("unknown code") << 98765 << QStringLiteral("Unknown error 98765");
}

void tst_CLinuxFSLock::systemErrorMessage()
{
    QFETCH(int, error);
    QFETCH(QString, text);
    QCOMPARE(CLinuxFSLock::getSystemErrorMsg(error), text);
}

void tst_CLinuxFSLock::sharingData()
{
    using L = CLinuxFSLock;
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("held");
    QTest::addColumn<quint32>("access");
    QTest::addColumn<quint32>("share");
    QTest::addColumn<bool>("granted");
    const quint32 all = L::ShareReadWrite | L::ShareDelete;
    struct Row
    {
        const char* name;
        int held;
        quint32 access;
        quint32 share;
        bool granted;
    };
    const Row rows[] = {
        {"free: exclusive probe", NoLock, L::AccessAll, L::ShareNone, true},
        {"exclusive: read", Exclusive, L::AccessRead, all, false},
        {"exclusive: write", Exclusive, L::AccessWrite, all, false},
        {"exclusive: delete", Exclusive, L::AccessDelete, all, false},
        {"exclusive: write probe", Exclusive, L::AccessAll, L::ShareRead, false},
        {"read-write: read", ReadWrite, L::AccessRead, all, false},
        {"write: read", Write, L::AccessRead, all, true},
        {"write: read sharing only reading", Write, L::AccessRead, L::ShareRead, true},
        {"write: read denying reading", Write, L::AccessRead, L::ShareWrite, false},
        {"write: write", Write, L::AccessWrite, all, false},
        {"write: delete", Write, L::AccessDelete, all, false},
        {"write: write probe", Write, L::AccessAll, L::ShareRead, false},
        {"delete: read", Delete, L::AccessRead, all, true},
        {"delete: write", Delete, L::AccessWrite, all, true},
        {"delete: read and write", Delete, L::AccessRead | L::AccessWrite, all, true},
        {"delete: delete", Delete, L::AccessDelete, all, false},
        {"delete: exclusive probe", Delete, L::AccessAll, L::ShareNone, false},
        {"delete: read denying writing", Delete, L::AccessRead, L::ShareRead, true},
    };
    for (const char* kind : {"file", "directory"}) {
        for (const Row& row : rows) {
            QTest::addRow("%s, %s", kind, row.name)
                << QString::fromLatin1(kind) << row.held << row.access << row.share << row.granted;
        }
    }
}

void tst_CLinuxFSLock::sharingInProcess_data()
{
    sharingData();
}

void tst_CLinuxFSLock::sharingInProcess()
{
    QFETCH(QString, kind);
    QFETCH(int, held);
    QFETCH(quint32, access);
    QFETCH(quint32, share);
    QFETCH(bool, granted);
    const QString path = object(kind);
    CLinuxFSLock lock;
    QVERIFY(take(lock, held, path));
    int handle = -2;
    const int error = CLinuxFSLock::getFileHandle(path, handle, access, share);
    QCOMPARE(error, granted ? 0 : CLinuxFSLock::SharingViolation);
    QCOMPARE(handle != -1, granted);
    if (handle != -1)
        ::close(handle);
}

void tst_CLinuxFSLock::sharingAcrossProcesses_data()
{
    sharingData();
}

void tst_CLinuxFSLock::sharingAcrossProcesses()
{
    QFETCH(QString, kind);
    QFETCH(int, held);
    QFETCH(quint32, access);
    QFETCH(quint32, share);
    QFETCH(bool, granted);
    const QString path = object(kind);
    CLockHolder holder;
    QVERIFY(holder.start(held, path));
    int handle = -2;
    const int error = CLinuxFSLock::getFileHandle(path, handle, access, share);
    QCOMPARE(error, granted ? 0 : CLinuxFSLock::SharingViolation);
    QCOMPARE(handle != -1, granted);
    if (handle != -1)
        ::close(handle);
    holder.stop();
    QCOMPARE(
        CLinuxFSLock::getFileHandle(path, handle, CLinuxFSLock::AccessAll, CLinuxFSLock::ShareNone),
        0);
    ::close(handle);
}

void tst_CLinuxFSLock::lockAgainstLockAcrossProcesses()
{
    const QString path = object(QStringLiteral("file"));
    CLockHolder holder;
    QVERIFY(holder.start(Write, path));
    CLinuxFSLock lock;
    QVERIFY(lock.getWriteLock(path));
    QVERIFY(lock.releaseLock());
    QTest::ignoreMessage(QtCriticalMsg, record(QStringLiteral("CLinuxFSLock::checkSuccess"),
                                               sharingViolationText()));
    QVERIFY(!lock.getExclusiveLock(path));
    QVERIFY(!lock.isLocked());
    holder.stop();
    QVERIFY(lock.getExclusiveLock(path));
}

void tst_CLinuxFSLock::pathLengthLimit()
{
    const QString base = dir->path() + QLatin1Char('/');
    const QString accepted = base + QString(259 - base.size(), QLatin1Char('a'));
    QVERIFY(QFile(accepted).open(QIODevice::WriteOnly));
    CLinuxFSLock lock;
    QVERIFY(lock.getWriteLock(accepted));
    QVERIFY(lock.releaseLock());

    const QString refused = base + QString(260 - base.size(), QLatin1Char('b'));
    QVERIFY(QFile(refused).open(QIODevice::WriteOnly));
    QTest::ignoreMessage(QtCriticalMsg, record(QStringLiteral("CLinuxFSLock::getWriteLock"),
                                               QStringLiteral("invalid path given")));
    QVERIFY(!lock.getWriteLock(refused));
    QVERIFY(!lock.isLocked());
}

void tst_CLinuxFSLock::emptyPath()
{
    CLinuxFSLock lock;
    QTest::ignoreMessage(QtCriticalMsg, record(QStringLiteral("CLinuxFSLock::getDeleteLock"),
                                               QStringLiteral("invalid path given")));
    QVERIFY(!lock.getDeleteLock(QString()));
    QTest::ignoreMessage(QtCriticalMsg, record(QStringLiteral("CLinuxFSLock::getExclusiveLock"),
                                               QStringLiteral("invalid path given")));
    QVERIFY(!lock.getExclusiveLock(QLatin1String("")));
}

void tst_CLinuxFSLock::secondRequestKeepsFirstLock()
{
    const QString path = object(QStringLiteral("file"));
    CLinuxFSLock lock;
    QVERIFY(lock.getWriteLock(path));
    const int handle = lock.getHandle();
    QTest::ignoreMessage(QtWarningMsg,
                         record(QStringLiteral("CLinuxFSLock::getWriteLock"),
                                QStringLiteral("getXXXLock called before, without release")));
    QVERIFY(!lock.getWriteLock(path));
    QTest::ignoreMessage(QtWarningMsg,
                         record(QStringLiteral("CLinuxFSLock::getDeleteLock"),
                                QStringLiteral("getXXXLock called before, without release")));
    QVERIFY(!lock.getDeleteLock(dir->path()));
    QVERIFY(lock.isLocked());
    QCOMPARE(lock.getHandle(), handle);
    // The first lock still keeps writers out.
    int other = -2;
    QCOMPARE(CLinuxFSLock::getFileHandle(path, other, CLinuxFSLock::AccessWrite,
                                         CLinuxFSLock::ShareReadWrite | CLinuxFSLock::ShareDelete),
             CLinuxFSLock::SharingViolation);
}

void tst_CLinuxFSLock::missingObject_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<int>("error");
    QTest::newRow("missing file") << QStringLiteral("missing.txt") << ENOENT;
    QTest::newRow("missing parent") << QStringLiteral("missing/f.txt") << ENOENT;
    QTest::newRow("parent is a file") << QStringLiteral("f ü.txt/f.txt") << ENOTDIR;
}

void tst_CLinuxFSLock::missingObject()
{
    QFETCH(QString, relative);
    QFETCH(int, error);
    object(QStringLiteral("file"));
    CLinuxFSLock lock;
    QTest::ignoreMessage(QtCriticalMsg, record(QStringLiteral("CLinuxFSLock::checkSuccess"),
                                               QStringLiteral("%1 - system error code: %2")
                                                   .arg(CLinuxFSLock::getSystemErrorMsg(error))
                                                   .arg(error)));
    QVERIFY(!lock.getExclusiveLock(dir->filePath(relative)));
    QVERIFY(!lock.isLocked());
    QCOMPARE(lock.getHandle(), -1);
}

void tst_CLinuxFSLock::releaseAndRelock()
{
    const QString path = object(QStringLiteral("directory"));
    CLinuxFSLock lock;
    QVERIFY(lock.releaseLock());
    QVERIFY(lock.getExclusiveLock(path));
    QVERIFY(lock.getHandle() >= 0);
    QVERIFY(lock.releaseLock());
    QVERIFY(!lock.isLocked());
    QCOMPARE(lock.getHandle(), -1);
    CLinuxFSLock other;
    QVERIFY(other.getExclusiveLock(path));
    QTest::ignoreMessage(QtCriticalMsg, record(QStringLiteral("CLinuxFSLock::checkSuccess"),
                                               sharingViolationText()));
    QVERIFY(!lock.getDeleteLock(path));
    QVERIFY(other.releaseLock());
    QVERIFY(lock.getDeleteLock(path));
}

void tst_CLinuxFSLock::destructionReleases()
{
    const QString path = object(QStringLiteral("file"));
    {
        CLinuxFSLock lock;
        QVERIFY(lock.getExclusiveLock(path));
    }
    CLinuxFSLock lock;
    QVERIFY(lock.getExclusiveLock(path));
}

void tst_CLinuxFSLock::otherErrorsThrow()
{
    const QString loop = dir->filePath(QStringLiteral("loop"));
    QVERIFY(QFile::link(loop, loop));
    CLinuxFSLock lock;
    const QString expected = QStringLiteral("%1 - system error code: %2")
                                 .arg(CLinuxFSLock::getSystemErrorMsg(ELOOP))
                                 .arg(ELOOP);
    try {
        (void)lock.getWriteLock(loop);
        QFAIL("no exception");
    } catch (const Exceptions::FileSystemException& exception) {
        QCOMPARE(exception.details(), expected);
        QCOMPARE(QByteArray(exception.function()), QByteArray("CLinuxFSLock::checkSuccess"));
    }
    QVERIFY(!lock.isLocked());
    QVERIFY_THROWS_EXCEPTION(Exceptions::FileSystemException, lock.checkSuccess(0));
}

void tst_CLinuxFSLock::unreadableFileThrows()
{
    if (::geteuid() == 0)
        QSKIP("root reads every file");
    const QString path = object(QStringLiteral("file"));
    QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    CLinuxFSLock lock;
    QVERIFY_THROWS_EXCEPTION(Exceptions::FileSystemException, (void)lock.getWriteLock(path));
    QVERIFY(!lock.isLocked());
}

void tst_CLinuxFSLock::writeAccessNeedsWritePermission()
{
    if (::geteuid() == 0)
        QSKIP("root writes every file");
    const QString path = object(QStringLiteral("file"));
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
    int handle = -2;
    QCOMPARE(
        CLinuxFSLock::getFileHandle(path, handle, CLinuxFSLock::AccessAll, CLinuxFSLock::ShareNone),
        EACCES);
    QCOMPARE(handle, -1);
    // A lock only reads, so a read-only file can still be locked.
    CLinuxFSLock lock;
    QVERIFY(lock.getExclusiveLock(path));
}

void tst_CLinuxFSLock::failedOpenLeavesNoLock()
{
    // A refused request must not leave its bytes behind to block later requests.
    const QString path = object(QStringLiteral("file"));
    CLinuxFSLock holder;
    QVERIFY(holder.getWriteLock(path));
    int handle = -2;
    for (int attempt = 0; attempt < 3; ++attempt) {
        QCOMPARE(CLinuxFSLock::getFileHandle(path, handle, CLinuxFSLock::AccessAll,
                                             CLinuxFSLock::ShareNone),
                 CLinuxFSLock::SharingViolation);
    }
    QVERIFY(holder.releaseLock());
    QCOMPARE(
        CLinuxFSLock::getFileHandle(path, handle, CLinuxFSLock::AccessAll, CLinuxFSLock::ShareNone),
        0);
    ::close(handle);
}

QTEST_GUILESS_MAIN(tst_CLinuxFSLock)
#include "tst_CLinuxFSLock.moc"
