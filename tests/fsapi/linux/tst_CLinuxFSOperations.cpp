#include "fsapi/linux/CLinuxFSOperations.h"

#include "common/CTestEnvironment.h"
#include "fsapi/FSAttributes.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/CLinuxFSLock.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

using namespace Exceptions;

namespace {

// Started with SY_TEST_HOLD_LOCK set, this program only holds a lock on SY_TEST_LOCK_PATH
// for another process: it answers "locked" and waits until its standard input closes.
const bool lockHolder = [] {
    const QByteArray kind = qgetenv("SY_TEST_HOLD_LOCK");
    if (kind.isEmpty())
        return false;
    const QString path = QFile::decodeName(qgetenv("SY_TEST_LOCK_PATH"));
    CLinuxFSLock lock;
    const bool locked = kind == "exclusive" ? lock.getExclusiveLock(path)
                        : kind == "write"   ? lock.getWriteLock(path)
                                            : lock.getDeleteLock(path);
    std::printf(locked ? "locked\n" : "failed\n");
    std::fflush(stdout);
    char byte;
    while (::read(0, &byte, 1) > 0) {
    }
    std::_Exit(0);
}();

class LockHolder
{
public:
    LockHolder(const QString& path, const char* kind)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("SY_TEST_HOLD_LOCK"), QString::fromLatin1(kind));
        environment.insert(QStringLiteral("SY_TEST_LOCK_PATH"), path);
        process.setProcessEnvironment(environment);
        process.start(QCoreApplication::applicationFilePath(), {});
        if (process.waitForStarted(10000)) {
            while (!process.canReadLine() && process.waitForReadyRead(10000)) {
            }
        }
        answer = process.readLine().trimmed();
    }
    ~LockHolder()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(10000))
            process.kill();
    }
    bool isLocked() const { return answer == "locked"; }

private:
    QProcess process;
    QByteArray answer;
};

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
           file.write(content) == content.size();
}

struct stat statusOf(const QString& path)
{
    struct stat status
    {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        status.st_mode = 0;
    return status;
}

mode_t modeOf(const QString& path)
{
    return statusOf(path).st_mode & 07777;
}

bool exists(const QString& path)
{
    return statusOf(path).st_mode != 0;
}

QString linkText(const QString& path)
{
    char text[4096];
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), text, sizeof text);
    return length < 0 ? QString() : QFile::decodeName(QByteArray(text, length));
}

// Every entry under root with its kind, mode and content, to compare trees byte for byte.
QStringList snapshot(const QString& root)
{
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString kind =
            info.isSymLink() ? QStringLiteral("link ") + linkText(path)
            : info.isDir()   ? QStringLiteral("dir")
                           : QStringLiteral("file ") + QString::fromLatin1(contentOf(path).toHex());
        lines << path.mid(root.size()) + QLatin1Char(' ') + kind + QLatin1Char(' ') +
                     QString::number(modeOf(path), 8);
    }
    lines.sort();
    return lines;
}

// "<exception name> | <details>" of what call throws, or "nothing thrown".
QString failureOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const CException& exception) {
        return QString::fromLatin1(exception.name()) + QStringLiteral(" | ") + exception.details();
    }
    return QStringLiteral("nothing thrown");
}

QString thrown(const char* className, const QString& details)
{
    return QStringLiteral("Exceptions::%1::%1 | ").arg(QLatin1String(className)) + details;
}

QString systemError(int error)
{
    return QStringLiteral("%1 - system error code: %2")
        .arg(CLinuxFSLock::getSystemErrorMsg(error))
        .arg(error);
}

void expectRecord(QtMsgType type, const char* function, const QString& text)
{
    QTest::ignoreMessage(type,
                         QRegularExpression(QStringLiteral("^\\[ -1 : MainThread \\] \\[ "
                                                           "CLinuxFSOperations\\.cpp : \\d+ : ") +
                                            QRegularExpression::escape(QLatin1String(function)) +
                                            QStringLiteral(" \\] ") +
                                            QRegularExpression::escape(text) + QLatin1Char('$')));
}

void expectCritical(const char* function, const QString& text)
{
    expectRecord(QtCriticalMsg, function, text);
}

enum class Fault
{
    ReturnFalse,
    Throw
};

// The Linux operations with faults injected where a test asks for them: "operation path"
// keys make that call answer false or throw, a vanishing file disappears right after its
// existence was confirmed, and a full disk fails every copy after its first chunk.
class CFaultyFSOperations : public CLinuxFSOperations
{
public:
    QHash<QString, Fault> faults;
    QString vanishing;
    bool diskFull = false;

    bool fileExists(const QString& path) override
    {
        const bool found = CLinuxFSOperations::fileExists(path);
        if (found && path == vanishing)
            QFile::remove(path);
        return found;
    }
    bool deleteFile(const QString& path, bool force) override
    {
        return inject("deleteFile", path) ? false : CLinuxFSOperations::deleteFile(path, force);
    }
    bool deleteDirectory(const QString& path, bool force) override
    {
        return inject("deleteDirectory", path) ? false
                                               : CLinuxFSOperations::deleteDirectory(path, force);
    }
    bool moveFile(const QString& src, const QString& dest, bool force, bool overwrite) override
    {
        return inject("moveFile", src + QLatin1String(" -> ") + dest)
                   ? false
                   : CLinuxFSOperations::moveFile(src, dest, force, overwrite);
    }
    bool moveDirectory(const QString& src, const QString& dest, bool force) override
    {
        return inject("moveDirectory", src + QLatin1String(" -> ") + dest)
                   ? false
                   : CLinuxFSOperations::moveDirectory(src, dest, force);
    }
    bool setAttributes(const QString& path, quint32 attributes) override
    {
        return inject("setAttributes", path) ? false
                                             : CLinuxFSOperations::setAttributes(path, attributes);
    }
    bool setTimeStamps(const QString& path, const QDateTime& creation, const QDateTime& lastAccess,
                       const QDateTime& lastWrite, bool isDirectory) override
    {
        return inject("setTimeStamps", path)
                   ? false
                   : CLinuxFSOperations::setTimeStamps(path, creation, lastAccess, lastWrite,
                                                       isDirectory);
    }

protected:
    qint64 copyChunk(int from, int to, qint64 length) override
    {
        if (diskFull && ::lseek(to, 0, SEEK_CUR) > 0) {
            errno = ENOSPC;
            return -1;
        }
        return CLinuxFSOperations::copyChunk(from, to, diskFull ? 4096 : length);
    }

private:
    // True when the call is to answer false; throws when it is to throw.
    bool inject(const char* operation, const QString& argument)
    {
        SY_FUNCTION("CFaultyFSOperations::inject");
        const auto found = faults.constFind(QLatin1String(operation) + QLatin1Char(' ') + argument);
        if (found == faults.constEnd())
            return false;
        if (*found == Fault::Throw)
            SY_THROW(FileSystemException, QStringLiteral("injected fault"));
        return true;
    }
};

} // namespace

class tst_CLinuxFSOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void argumentChecks_data();
    void argumentChecks();
    void pathOfMaximumLengthIsAccepted();
    void existence_data();
    void existence();
    void existenceInUnreadableDirectory();

    void lockProbes_data();
    void lockProbes();
    void lockProbeOnDirectory();
    void lockProbeRemovesReadOnly();
    void lockProbeOnMissingPath();

    void copyFileKeepsContentModeAndTime_data();
    void copyFileKeepsContentModeAndTime();
    void copyFileNeverOverwrites_data();
    void copyFileNeverOverwrites();
    void copyFileIntoMissingDirectory();
    void copyFileFailures();
    void copyFileOfLockedSource();
    void copyFileOfVanishingSource();
    void copyFileOnFullDisk();
    void copyFileOfUnreadableSource();
    void copyDirectoryCopiesTree();
    void copyDirectoryKeepsLinksInside();
    void copyDirectoryFailures();

    void createFile();
    void createFileFailures();
    void createDirectory();
    void createDirectoryFailures();
    void createDirectoryLengthLimit();

    void renameAndMoveFile();
    void moveFileFailures();
    void moveFileAcrossFileSystems();
    void moveAndRenameDirectory();

    void deleteFile();
    void deleteFileFailures();
    void deleteDirectoryWithoutForceKeepsEverything();
    void deleteDirectoryWithForce();
    void deleteDirectoryOfLockedDirectory();
    void cleanDirectory();
    void cleanDirectoryFailures();

    void timeStamps();
    void timeStampsFailures_data();
    void timeStampsFailures();
    void attributes();
    void identityAndLinks();

    void safeDeleteFile();
    void safeDeleteFileRollsBack_data();
    void safeDeleteFileRollsBack();
    void safeDeleteFileFailures();
    void safeDeleteDirectory();
    void safeCleanDirectory();
    void safeCopyFile();
    void safeMoveFile();
    void safeMoveAndRenameDirectory();
    void safeCreateDirectory();
    void safeSetTimeStamps();

private:
    QString path(const QString& relative) const { return root + relative; }
    // A path of exactly length characters whose parent exists and is at most 247 long.
    QString pathOfLength(int length) const;

    std::unique_ptr<CTestEnvironment> environment;
    std::unique_ptr<QTemporaryDir> dir;
    QString root;
    CLinuxFSOperations ops;
};

void tst_CLinuxFSOperations::init()
{
    environment = std::make_unique<CTestEnvironment>();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    root = dir->path() + QLatin1Char('/');
}

void tst_CLinuxFSOperations::cleanup()
{
    // Tests take permissions away; give them back so that the folder can go.
    QDirIterator it(root, QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    ::chmod(QFile::encodeName(root).constData(), 0700);
    while (it.hasNext()) {
        const QString entry = it.next();
        if (!it.fileInfo().isSymLink())
            ::chmod(QFile::encodeName(entry).constData(), 0700);
    }
    dir.reset();
    environment.reset();
}

QString tst_CLinuxFSOperations::pathOfLength(int length) const
{
    const QString parent = root + QString(240 - root.size(), QLatin1Char('p'));
    QDir().mkpath(parent);
    return parent + QLatin1Char('/') + QString(length - parent.size() - 1, QLatin1Char('n'));
}

using Call = std::function<bool(IFSOperations&, const QString&)>;

void tst_CLinuxFSOperations::argumentChecks_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("emptyText");
    const QDateTime none;
    const QString other = QStringLiteral("/tmp/other");
    const auto row = [](const char* function, const char* emptyText, const Call& call) {
        QTest::newRow((QByteArray(function) + ' ' + emptyText).constData())
            << call << QString::fromLatin1(function) << QString::fromLatin1(emptyText);
    };
    const char* const empty = "Empty path ...";
    row("tryExclusiveLock", empty,
        [](IFSOperations& o, const QString& p) { return o.tryExclusiveLock(p); });
    row("tryWriteLock", empty,
        [](IFSOperations& o, const QString& p) { return o.tryWriteLock(p); });
    row("fileExists", empty, [](IFSOperations& o, const QString& p) { return o.fileExists(p); });
    row("directoryExists", empty,
        [](IFSOperations& o, const QString& p) { return o.directoryExists(p); });
    row("copyFile", "Empty src path ...", [other](IFSOperations& o, const QString& p) {
        return o.copyFile(p, other, false, false, false);
    });
    row("copyFile", "Empty dest path ...", [other](IFSOperations& o, const QString& p) {
        return o.copyFile(other, p, false, false, false);
    });
    row("safeCopyFile", "Empty safePath ...", [other](IFSOperations& o, const QString& p) {
        return o.safeCopyFile(other, other, p, false, false, false);
    });
    row("copyDirectory", "Empty dest path ...",
        [other](IFSOperations& o, const QString& p) { return o.copyDirectory(other, p); });
    row("createFile", empty, [none](IFSOperations& o, const QString& p) {
        return o.createFile(p, none, none, none, 0);
    });
    row("createDirectory", empty, [none](IFSOperations& o, const QString& p) {
        return o.createDirectory(p, none, none, none, 0, true);
    });
    row("safeCreateDirectory", "Empty safePath ...",
        [none, other](IFSOperations& o, const QString& p) {
            return o.safeCreateDirectory(other, p, none, none, none, 0, true);
        });
    row("renameFile", "Empty src path ...",
        [other](IFSOperations& o, const QString& p) { return o.renameFile(p, other, false); });
    row("safeRenameFile", "Empty dest path ...", [other](IFSOperations& o, const QString& p) {
        return o.safeRenameFile(other, p, other, false);
    });
    row("renameDirectory", "Empty dest path ...",
        [other](IFSOperations& o, const QString& p) { return o.renameDirectory(other, p); });
    row("safeRenameDirectory", "Empty src path ...", [other](IFSOperations& o, const QString& p) {
        return o.safeRenameDirectory(p, other, other);
    });
    row("moveFile", "Empty dest path ...",
        [other](IFSOperations& o, const QString& p) { return o.moveFile(other, p, true, true); });
    row("safeMoveFile", "Empty src path ...", [other](IFSOperations& o, const QString& p) {
        return o.safeMoveFile(p, other, other, true, true);
    });
    row("moveDirectory", "Empty src path ...",
        [other](IFSOperations& o, const QString& p) { return o.moveDirectory(p, other, true); });
    row("safeMoveDirectory", "Empty safePath ...", [other](IFSOperations& o, const QString& p) {
        return o.safeMoveDirectory(other, other, p, true);
    });
    row("deleteFile", empty,
        [](IFSOperations& o, const QString& p) { return o.deleteFile(p, true); });
    row("safeDeleteFile", empty,
        [other](IFSOperations& o, const QString& p) { return o.safeDeleteFile(p, other, true); });
    row("deleteDirectory", empty,
        [](IFSOperations& o, const QString& p) { return o.deleteDirectory(p, true); });
    row("safeDeleteDirectory", "Empty safePath ...", [other](IFSOperations& o, const QString& p) {
        return o.safeDeleteDirectory(other, p, true);
    });
    row("cleanDirectory", empty,
        [](IFSOperations& o, const QString& p) { return o.cleanDirectory(p, true); });
    row("safeCleanDirectory", empty, [other](IFSOperations& o, const QString& p) {
        return o.safeCleanDirectory(p, other, true);
    });
    row("setTimeStamps", empty, [none](IFSOperations& o, const QString& p) {
        return o.setTimeStamps(p, none, none, none, false);
    });
    row("safeSetTimeStamps", "Empty safePath ...",
        [none, other](IFSOperations& o, const QString& p) {
            return o.safeSetTimeStamps(other, p, none, none, none, false);
        });
    row("setAttributes", empty,
        [](IFSOperations& o, const QString& p) { return o.setAttributes(p, 2); });
    row("removeAttributes", empty,
        [](IFSOperations& o, const QString& p) { return o.removeAttributes(p, 2); });
    row("getFSID", empty, [](IFSOperations& o, const QString& p) {
        QString id;
        return o.getFSID(p, id);
    });
    row("isSymbolicLink", empty,
        [](IFSOperations& o, const QString& p) { return o.isSymbolicLink(p); });
}

void tst_CLinuxFSOperations::argumentChecks()
{
    QFETCH(Call, call);
    QFETCH(QString, function);
    QFETCH(QString, emptyText);
    const QByteArray qualified = "CLinuxFSOperations::" + function.toLatin1();

    expectCritical(qualified.constData(), emptyText);
    QVERIFY(!call(ops, QString()));
    expectCritical(qualified.constData(), emptyText);
    QVERIFY(!call(ops, QLatin1String("")));

    const QString tooLong = pathOfLength(260);
    expectCritical(qualified.constData(),
                   QStringLiteral("PathTooLong ") + tooLong + QStringLiteral(" 260"));
    QVERIFY(!call(ops, tooLong));
    QVERIFY(!exists(tooLong));
}

void tst_CLinuxFSOperations::pathOfMaximumLengthIsAccepted()
{
    const QString longest = pathOfLength(259);
    QCOMPARE(longest.size(), 259);
    QVERIFY(writeFile(path(QStringLiteral("source")), "data"));
    QVERIFY(!ops.fileExists(longest));
    QVERIFY(ops.copyFile(path(QStringLiteral("source")), longest, false, false, false));
    QVERIFY(ops.fileExists(longest));
    QCOMPARE(contentOf(longest), QByteArray("data"));
    QVERIFY(ops.deleteFile(longest, false));
    QVERIFY(!exists(longest));
}

void tst_CLinuxFSOperations::existence_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("fileResult");
    QTest::addColumn<QString>("directoryResult");
    const QString yes = QStringLiteral("true");
    const QString no = QStringLiteral("false");
    QTest::newRow("file") << "file.txt" << yes << "NotADirectory";
    QTest::newRow("directory") << "folder"
                               << "NotAFile" << yes;
    QTest::newRow("directory with separator") << "folder/"
                                              << "NotAFile" << yes;
    QTest::newRow("missing") << "missing" << no << no;
    QTest::newRow("missing parent") << "missing/child" << no << no;
    QTest::newRow("below a file") << "file.txt/child" << no << no;
    QTest::newRow("link to a directory") << "linkToFolder" << yes << "NotADirectory";
    QTest::newRow("dangling link") << "dangling" << yes << "NotADirectory";
    QTest::newRow("non-ASCII") << QStringLiteral("Привет 日本 שלום.txt") << yes << "NotADirectory";
    QTest::newRow("spaces and newline") << "a name\nwith newline " << yes << "NotADirectory";
}

void tst_CLinuxFSOperations::existence()
{
    QFETCH(QString, relative);
    QFETCH(QString, fileResult);
    QFETCH(QString, directoryResult);
    QVERIFY(writeFile(path(QStringLiteral("file.txt")), "x"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("folder"))));
    QVERIFY(QFile::link(path(QStringLiteral("folder")), path(QStringLiteral("linkToFolder"))));
    QVERIFY(QFile::link(path(QStringLiteral("nowhere")), path(QStringLiteral("dangling"))));
    QVERIFY(writeFile(path(QStringLiteral("Привет 日本 שלום.txt")), "x"));
    QVERIFY(writeFile(path(QStringLiteral("a name\nwith newline ")), "x"));

    const QString target = path(relative);
    const auto answer = [&](bool directory) {
        try {
            return QString::fromLatin1(
                (directory ? ops.directoryExists(target) : ops.fileExists(target)) ? "true"
                                                                                   : "false");
        } catch (const NotAFile& exception) {
            return exception.details() == target + QStringLiteral(" is a directory")
                       ? QStringLiteral("NotAFile")
                       : exception.details();
        } catch (const NotADirectory& exception) {
            return exception.details() == target + QStringLiteral(" is not a directory")
                       ? QStringLiteral("NotADirectory")
                       : exception.details();
        }
    };
    QCOMPARE(answer(false), fileResult);
    QCOMPARE(answer(true), directoryResult);
}

void tst_CLinuxFSOperations::existenceInUnreadableDirectory()
{
    if (runningAsRoot())
        QSKIP("root is not refused by permission bits");
    const QString closed = path(QStringLiteral("closed/"));
    QVERIFY(writeFile(closed + QStringLiteral("inside"), "x"));
    QVERIFY(::chmod(QFile::encodeName(closed).constData(), 0) == 0);
    QCOMPARE(failureOf([&] { ops.fileExists(closed + QStringLiteral("inside")); }),
             thrown("FileSystemException", systemError(EACCES)));
    QCOMPARE(failureOf([&] { ops.directoryExists(closed + QStringLiteral("inside")); }),
             thrown("FileSystemException", systemError(EACCES)));
}

void tst_CLinuxFSOperations::lockProbes_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::newRow("exclusive") << QByteArray("exclusive");
    QTest::newRow("write") << QByteArray("write");
    QTest::newRow("delete") << QByteArray("delete");
}

void tst_CLinuxFSOperations::lockProbes()
{
    QFETCH(QByteArray, kind);
    const QString file = path(QStringLiteral("locked file"));
    QVERIFY(writeFile(file, "content"));
    QVERIFY(ops.tryExclusiveLock(file));
    QVERIFY(ops.tryWriteLock(file));
    {
        // Every lock kind keeps others from deleting, which the probes ask for.
        const LockHolder holder(file, kind.constData());
        QVERIFY(holder.isLocked());
        QVERIFY(!ops.tryExclusiveLock(file));
        QVERIFY(!ops.tryWriteLock(file));
        QCOMPARE(contentOf(file), QByteArray("content"));
    }
    QVERIFY(ops.tryExclusiveLock(file));
    QVERIFY(ops.tryWriteLock(file));

    CLinuxFSLock sameProcess;
    QVERIFY(sameProcess.getDeleteLock(file));
    QVERIFY(!ops.tryExclusiveLock(file));
    QVERIFY(!ops.tryWriteLock(file));
    QVERIFY(sameProcess.releaseLock());
    QVERIFY(ops.tryExclusiveLock(file));
}

void tst_CLinuxFSOperations::lockProbeOnDirectory()
{
    const QString folder = path(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(ops.tryWriteLock(folder));
    {
        const LockHolder holder(folder, "write");
        QVERIFY(holder.isLocked());
        QVERIFY(!ops.tryWriteLock(folder));
        QVERIFY(!ops.tryExclusiveLock(folder));
    }
    QVERIFY(ops.tryWriteLock(folder));
}

void tst_CLinuxFSOperations::lockProbeRemovesReadOnly()
{
    if (runningAsRoot())
        QSKIP("root opens read-only files for writing");
    const QString file = path(QStringLiteral("read-only"));
    QVERIFY(writeFile(file, "x"));
    QVERIFY(::chmod(QFile::encodeName(file).constData(), 0444) == 0);
    QVERIFY(ops.tryExclusiveLock(file));
    QCOMPARE(modeOf(file), mode_t(0644));
}

void tst_CLinuxFSOperations::lockProbeOnMissingPath()
{
    QCOMPARE(failureOf([&] { ops.tryExclusiveLock(path(QStringLiteral("missing"))); }),
             thrown("DoesNotExist", systemError(ENOENT)));
    QCOMPARE(failureOf([&] { ops.tryWriteLock(path(QStringLiteral("no/such/path"))); }),
             thrown("DoesNotExist", systemError(ENOENT)));
}

void tst_CLinuxFSOperations::copyFileKeepsContentModeAndTime_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");
    QTest::newRow("plain") << "plain.txt" << QByteArray("hello\n") << 0644;
    QTest::newRow("empty") << "empty" << QByteArray() << 0600;
    QTest::newRow("read-only") << "read-only.log" << QByteArray("frozen") << 0444;
    QTest::newRow("executable") << "run.sh" << QByteArray("#!/bin/sh\n") << 0755;
    QTest::newRow("large") << "large.bin" << QByteArray(3 * 1024 * 1024 + 17, 'z') << 0640;
    QTest::newRow("Russian") << QStringLiteral("Журнал.txt") << QByteArray("ru") << 0644;
    QTest::newRow("Japanese") << QStringLiteral("ログ.txt") << QByteArray("ja") << 0644;
    QTest::newRow("Hebrew") << QStringLiteral("יומן.txt") << QByteArray("he") << 0644;
    QTest::newRow("spaces") << " lead and trail " << QByteArray("sp") << 0644;
    QTest::newRow("newline") << "two\nlines" << QByteArray("nl") << 0644;
    QTest::newRow("trailing dot") << "name." << QByteArray("dot") << 0644;
}

void tst_CLinuxFSOperations::copyFileKeepsContentModeAndTime()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    const QString src = path(QStringLiteral("src/") + name);
    const QString dest = path(QStringLiteral("dest/") + name);
    QVERIFY(writeFile(src, content));
    QVERIFY(QDir().mkpath(path(QStringLiteral("dest"))));
    const QDateTime written(QDate(2011, 1, 24), QTime(15, 30, 0, 250), Qt::UTC);
    QVERIFY(ops.setTimeStamps(src, QDateTime(), QDateTime(), written, false));
    QVERIFY(::chmod(QFile::encodeName(src).constData(), static_cast<mode_t>(mode)) == 0);

    QVERIFY(ops.copyFile(src, dest, false, false, false));
    QCOMPARE(contentOf(dest), content);
    QCOMPARE(modeOf(dest), mode_t(mode));
    QCOMPARE(QFileInfo(dest).lastModified().toUTC(), written);
    QCOMPARE(contentOf(src), content);
}

void tst_CLinuxFSOperations::copyFileNeverOverwrites_data()
{
    QTest::addColumn<bool>("failIfExists");
    QTest::addColumn<bool>("destinationIsLink");
    QTest::newRow("checked before") << false << false;
    QTest::newRow("refused by the copy") << true << false;
    QTest::newRow("dangling link, checked before") << false << true;
    QTest::newRow("dangling link, refused by the copy") << true << true;
}

void tst_CLinuxFSOperations::copyFileNeverOverwrites()
{
    QFETCH(bool, failIfExists);
    QFETCH(bool, destinationIsLink);
    const QString src = path(QStringLiteral("new"));
    const QString dest = path(QStringLiteral("old"));
    const QString linkTarget = path(QStringLiteral("not yet there"));
    QVERIFY(writeFile(src, "new content"));
    if (destinationIsLink)
        QVERIFY(QFile::link(linkTarget, dest));
    else
        QVERIFY(writeFile(dest, "old content"));

    QCOMPARE(failureOf([&] { ops.copyFile(src, dest, true, false, failIfExists); }),
             thrown("FileExists", QStringLiteral("Destination already exists: ") + dest));
    if (destinationIsLink) {
        QVERIFY(!exists(linkTarget));
        QCOMPARE(QFileInfo(dest).symLinkTarget(), linkTarget);
    } else {
        QCOMPARE(contentOf(dest), QByteArray("old content"));
    }
}

void tst_CLinuxFSOperations::copyFileIntoMissingDirectory()
{
    const QString src = path(QStringLiteral("file"));
    QVERIFY(writeFile(src, "data"));
    const QString dest = path(QStringLiteral("a/b/c/file"));
    QCOMPARE(failureOf([&] { ops.copyFile(src, dest, false, false, false); }),
             thrown("DoesNotExist", QStringLiteral("Specified path doesn't exist: ") + dest));
    QVERIFY(!exists(path(QStringLiteral("a"))));

    QVERIFY(ops.copyFile(src, dest, true, false, false));
    QCOMPARE(contentOf(dest), QByteArray("data"));
}

void tst_CLinuxFSOperations::copyFileFailures()
{
    const QString missing = path(QStringLiteral("missing"));
    QCOMPARE(
        failureOf([&] { ops.copyFile(missing, path(QStringLiteral("x")), true, false, false); }),
        thrown("FileDoesNotExist", QStringLiteral("File not found: ") + missing));
    QVERIFY(!exists(path(QStringLiteral("x"))));

    const QString folder = path(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(
        failureOf([&] { ops.copyFile(folder, path(QStringLiteral("x")), true, false, false); }),
        thrown("NotAFile", folder + QStringLiteral(" is a directory")));

    const QString fifo = path(QStringLiteral("fifo"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QCOMPARE(failureOf([&] { ops.copyFile(fifo, path(QStringLiteral("x")), true, false, false); }),
             thrown("FileSystemException", systemError(EINVAL)));
    QVERIFY(!exists(path(QStringLiteral("x"))));
}

void tst_CLinuxFSOperations::copyFileOfLockedSource()
{
    const QString src = path(QStringLiteral("in use"));
    const QString dest = path(QStringLiteral("copy"));
    QVERIFY(writeFile(src, "busy"));
    const LockHolder holder(src, "write");
    QVERIFY(holder.isLocked());
    QCOMPARE(failureOf([&] { ops.copyFile(src, dest, false, true, false); }),
             thrown("Locked", QStringLiteral("File is locked: ") + src));
    QVERIFY(!exists(dest));
    // Others may read it: without the lock check the copy is made.
    QVERIFY(ops.copyFile(src, dest, false, false, false));
    QCOMPARE(contentOf(dest), QByteArray("busy"));
}

void tst_CLinuxFSOperations::copyFileOfVanishingSource()
{
    CFaultyFSOperations faulty;
    const QString src = path(QStringLiteral("vanishing"));
    const QString dest = path(QStringLiteral("copy"));
    QVERIFY(writeFile(src, "soon gone"));
    faulty.vanishing = src;
    QCOMPARE(failureOf([&] { faulty.copyFile(src, dest, true, false, true); }),
             thrown("FileSystemException", systemError(ENOENT)));
    QVERIFY(!exists(dest));
}

void tst_CLinuxFSOperations::copyFileOnFullDisk()
{
    CFaultyFSOperations faulty;
    faulty.diskFull = true;
    const QString src = path(QStringLiteral("big"));
    const QString dest = path(QStringLiteral("copy"));
    QVERIFY(writeFile(src, QByteArray(100000, 'b')));
    QCOMPARE(failureOf([&] { faulty.copyFile(src, dest, true, false, false); }),
             thrown("FileSystemException", systemError(ENOSPC)));
    QVERIFY(!exists(dest));
    QCOMPARE(contentOf(src), QByteArray(100000, 'b'));
}

void tst_CLinuxFSOperations::copyFileOfUnreadableSource()
{
    if (runningAsRoot())
        QSKIP("root is not refused by permission bits");
    const QString src = path(QStringLiteral("secret"));
    const QString dest = path(QStringLiteral("copy"));
    QVERIFY(writeFile(src, "secret"));
    QVERIFY(::chmod(QFile::encodeName(src).constData(), 0) == 0);
    QCOMPARE(failureOf([&] { ops.copyFile(src, dest, false, false, false); }),
             thrown("FileSystemException", systemError(EACCES)));
    QVERIFY(!exists(dest));

    const QString closed = path(QStringLiteral("closed"));
    QVERIFY(QDir().mkpath(closed));
    QVERIFY(::chmod(QFile::encodeName(closed).constData(), 0555) == 0);
    QVERIFY(::chmod(QFile::encodeName(src).constData(), 0644) == 0);
    QCOMPARE(failureOf(
                 [&] { ops.copyFile(src, closed + QStringLiteral("/copy"), false, false, false); }),
             thrown("FileSystemException", systemError(EACCES)));
}

void tst_CLinuxFSOperations::copyDirectoryCopiesTree()
{
    const QString src = path(QStringLiteral("tree/"));
    QVERIFY(writeFile(src + QStringLiteral("top.txt"), "top"));
    QVERIFY(writeFile(src + QStringLiteral("sub/inner.log"), QByteArray(70000, 'i')));
    QVERIFY(writeFile(src + QStringLiteral("sub/deeper/Ünïcödé файл.txt"), "deep"));
    QVERIFY(writeFile(src + QStringLiteral("sub/name with\nnewline"), "nl"));
    QVERIFY(QDir().mkpath(src + QStringLiteral("empty")));
    QVERIFY(::chmod(QFile::encodeName(src + QStringLiteral("top.txt")).constData(), 0444) == 0);

    const QString dest = path(QStringLiteral("copy"));
    QVERIFY(ops.copyDirectory(src, dest));
    QCOMPARE(snapshot(dest + QLatin1Char('/')), snapshot(src));
    QVERIFY(snapshot(src).size() == 7);

    // Into an existing destination the tree is merged, and nothing there is overwritten.
    const QString other = path(QStringLiteral("other/"));
    QVERIFY(writeFile(other + QStringLiteral("top.txt"), "mine"));
    QCOMPARE(failureOf([&] { ops.copyDirectory(src, other); }),
             thrown("FileExists", QStringLiteral("Destination already exists: ") + other +
                                      QStringLiteral("top.txt")));
    QCOMPARE(contentOf(other + QStringLiteral("top.txt")), QByteArray("mine"));
}

void tst_CLinuxFSOperations::copyDirectoryKeepsLinksInside()
{
    const QString outside = path(QStringLiteral("outside/"));
    QVERIFY(writeFile(outside + QStringLiteral("private.txt"), "private"));
    const QString src = path(QStringLiteral("tree/"));
    QVERIFY(writeFile(src + QStringLiteral("real.txt"), "real"));
    QVERIFY(QFile::link(outside, src + QStringLiteral("toOutsideFolder")));
    QVERIFY(QFile::link(outside + QStringLiteral("private.txt"),
                        src + QStringLiteral("toOutsideFile")));
    QVERIFY(QFile::link(QStringLiteral("real.txt"), src + QStringLiteral("relative")));

    const QString dest = path(QStringLiteral("copy/"));
    QVERIFY(ops.copyDirectory(src, dest));
    QCOMPARE(snapshot(dest), snapshot(src));
    QVERIFY(ops.isSymbolicLink(dest + QStringLiteral("toOutsideFolder")));
    QVERIFY(ops.isSymbolicLink(dest + QStringLiteral("toOutsideFile")));
    QCOMPARE(QFile::symLinkTarget(dest + QStringLiteral("relative")),
             dest + QStringLiteral("real.txt"));
    QVERIFY(!exists(dest + QStringLiteral("private.txt")));
}

void tst_CLinuxFSOperations::copyDirectoryFailures()
{
    const QString missing = path(QStringLiteral("missing"));
    QCOMPARE(failureOf([&] { ops.copyDirectory(missing, path(QStringLiteral("x"))); }),
             thrown("FileDoesNotExist", QStringLiteral("File not found: ") + missing));
    QVERIFY(!exists(path(QStringLiteral("x"))));

    if (runningAsRoot())
        QSKIP("root is not refused by permission bits");
    const QString src = path(QStringLiteral("tree/"));
    QVERIFY(writeFile(src + QStringLiteral("readable/file"), "r"));
    QVERIFY(writeFile(src + QStringLiteral("closed/file"), "c"));
    QVERIFY(::chmod(QFile::encodeName(src + QStringLiteral("closed")).constData(), 0) == 0);
    QVERIFY(!ops.copyDirectory(src, path(QStringLiteral("copy"))));
    QCOMPARE(contentOf(path(QStringLiteral("copy/readable/file"))), QByteArray("r"));
}

void tst_CLinuxFSOperations::createFile()
{
    const QDateTime accessed(QDate(2020, 2, 29), QTime(12, 0, 0, 5), Qt::UTC);
    const QDateTime written(QDate(2019, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
    const QString file = path(QStringLiteral("new file ☃"));
    QVERIFY(ops.createFile(file, QDateTime::currentDateTimeUtc(), accessed, written,
                           FSAttributes::Hidden | FSAttributes::System));
    QCOMPARE(QFileInfo(file).lastModified().toUTC(), written);
    QCOMPARE(QFileInfo(file).lastRead().toUTC(), accessed);
    QCOMPARE(contentOf(file), QByteArray());
    QVERIFY(modeOf(file) & 0200);

    const QString readOnly = path(QStringLiteral("read-only"));
    QVERIFY(
        ops.createFile(readOnly, QDateTime(), QDateTime(), QDateTime(), FSAttributes::ReadOnly));
    QCOMPARE(modeOf(readOnly) & 0222, mode_t(0));
}

void tst_CLinuxFSOperations::createFileFailures()
{
    const QString file = path(QStringLiteral("present"));
    QVERIFY(writeFile(file, "keep"));
    QCOMPARE(failureOf([&] { ops.createFile(file, QDateTime(), QDateTime(), QDateTime(), 0); }),
             thrown("FileExists", QStringLiteral("Destination already exists: ") + file));
    QCOMPARE(contentOf(file), QByteArray("keep"));

    const QString orphan = path(QStringLiteral("no/parent"));
    QCOMPARE(failureOf([&] { ops.createFile(orphan, QDateTime(), QDateTime(), QDateTime(), 0); }),
             thrown("DoesNotExist", QStringLiteral("Specified path doesn't exist: ") + orphan));

    const QString early = path(QStringLiteral("early"));
    const QDateTime before1970(QDate(1969, 12, 31), QTime(23, 59, 59), Qt::UTC);
    QCOMPARE(failureOf([&] { ops.createFile(early, QDateTime(), QDateTime(), before1970, 0); }),
             thrown("InvalidParameter", QStringLiteral("Timestamp is invalid")));
    QVERIFY(!exists(early));
}

void tst_CLinuxFSOperations::createDirectory()
{
    const QDateTime written(QDate(2015, 6, 1), QTime(8, 0), Qt::UTC);
    const QString folder = path(QStringLiteral("a/b/c"));
    QVERIFY(ops.createDirectory(folder, QDateTime(), QDateTime(), written, 0, true));
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(QFileInfo(folder).lastModified().toUTC(), written);

    const QString readOnly = path(QStringLiteral("read-only"));
    QVERIFY(ops.createDirectory(readOnly, QDateTime(), QDateTime(), QDateTime(),
                                FSAttributes::ReadOnly, false));
    QCOMPARE(modeOf(readOnly) & 0222, mode_t(0));
}

void tst_CLinuxFSOperations::createDirectoryFailures()
{
    const QString folder = path(QStringLiteral("present"));
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(failureOf([&] {
                 ops.createDirectory(folder, QDateTime(), QDateTime(), QDateTime(), 0, true);
             }),
             thrown("DirectoryExists", QStringLiteral("Destination already exists: ") + folder));

    const QString orphan = path(QStringLiteral("no/parent"));
    QCOMPARE(failureOf([&] {
                 ops.createDirectory(orphan, QDateTime(), QDateTime(), QDateTime(), 0, false);
             }),
             thrown("DoesNotExist", QStringLiteral("Specified path doesn't exist: ") + orphan));
    QVERIFY(!exists(path(QStringLiteral("no"))));

    // A time stamp that cannot be set takes the new directory away again.
    const QString stamped = path(QStringLiteral("stamped"));
    const QDateTime invalid(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC);
    QCOMPARE(failureOf([&] {
                 ops.createDirectory(stamped, QDateTime(), invalid, QDateTime(), 0, false);
             }),
             thrown("InvalidParameter", QStringLiteral("Timestamp is invalid")));
    QVERIFY(!exists(stamped));

    CFaultyFSOperations faulty;
    faulty.faults.insert(QStringLiteral("setTimeStamps ") + stamped, Fault::ReturnFalse);
    QVERIFY(!faulty.createDirectory(stamped, QDateTime(), QDateTime(), QDateTime(), 0, false));
    QVERIFY(!exists(stamped));

    CFaultyFSOperations refusing;
    refusing.faults.insert(QStringLiteral("setAttributes ") + stamped, Fault::ReturnFalse);
    refusing.faults.insert(QStringLiteral("deleteDirectory ") + stamped, Fault::ReturnFalse);
    expectCritical("CLinuxFSOperations::createDirectory",
                   QStringLiteral("could not set attributes"));
    expectCritical("CLinuxFSOperations::createDirectory",
                   QStringLiteral("ERROR at ROLLBACK: deleteDirectory returned false - ") +
                       stamped);
    QVERIFY(!refusing.createDirectory(stamped, QDateTime(), QDateTime(), QDateTime(),
                                      FSAttributes::ReadOnly, false));
    QVERIFY(QFileInfo(stamped).isDir());

    if (runningAsRoot())
        QSKIP("root is not refused by permission bits");
    const QString closed = path(QStringLiteral("closed"));
    QVERIFY(QDir().mkpath(closed));
    QVERIFY(::chmod(QFile::encodeName(closed).constData(), 0555) == 0);
    QCOMPARE(failureOf([&] {
                 ops.createDirectory(closed + QStringLiteral("/x"), QDateTime(), QDateTime(),
                                     QDateTime(), 0, true);
             }),
             thrown("FileSystemException", systemError(EACCES)));
}

void tst_CLinuxFSOperations::createDirectoryLengthLimit()
{
    const QString parent = root + QString(200 - root.size(), QLatin1Char('p')) + QLatin1Char('/');
    QVERIFY(QDir().mkpath(parent));
    const QString longest = parent + QString(247 - parent.size(), QLatin1Char('d'));
    QCOMPARE(longest.size(), 247);
    QVERIFY(ops.createDirectory(longest, QDateTime(), QDateTime(), QDateTime(), 0, false));
    QVERIFY(QFileInfo(longest).isDir());

    const QString tooLong = parent + QString(248 - parent.size(), QLatin1Char('e'));
    QCOMPARE(failureOf([&] {
                 ops.createDirectory(tooLong, QDateTime(), QDateTime(), QDateTime(), 0, false);
             }),
             thrown("FileSystemException", systemError(ENAMETOOLONG)));
    QVERIFY(!exists(tooLong));
}

void tst_CLinuxFSOperations::renameAndMoveFile()
{
    const QString src = path(QStringLiteral("dir/original"));
    QVERIFY(writeFile(src, "payload"));
    const QString renamed = path(QStringLiteral("dir/renamed ünï"));
    QVERIFY(ops.renameFile(src, renamed, false));
    QVERIFY(!exists(src));
    QCOMPARE(contentOf(renamed), QByteArray("payload"));

    const QString elsewhere = path(QStringLiteral("other/renamed"));
    QCOMPARE(failureOf([&] { ops.renameFile(renamed, elsewhere, false); }),
             thrown("InvalidParameter", QStringLiteral("Paths not equal")));
    QCOMPARE(contentOf(renamed), QByteArray("payload"));

    const QString moved = path(QStringLiteral("new/parent/moved"));
    QVERIFY(ops.moveFile(renamed, moved, true, false));
    QCOMPARE(contentOf(moved), QByteArray("payload"));
    QVERIFY(!exists(renamed));

    const QString occupied = path(QStringLiteral("occupied"));
    QVERIFY(writeFile(occupied, "old"));
    QVERIFY(ops.moveFile(moved, occupied, false, true));
    QCOMPARE(contentOf(occupied), QByteArray("payload"));
    QVERIFY(!exists(moved));
}

void tst_CLinuxFSOperations::moveFileFailures()
{
    const QString src = path(QStringLiteral("src"));
    const QString dest = path(QStringLiteral("dest"));
    QVERIFY(writeFile(src, "source"));
    QVERIFY(writeFile(dest, "destination"));
    QCOMPARE(failureOf([&] { ops.moveFile(src, dest, true, false); }),
             thrown("FileExists", QStringLiteral("Destination already exists: ") + dest));
    QCOMPARE(contentOf(src), QByteArray("source"));
    QCOMPARE(contentOf(dest), QByteArray("destination"));

    const QString missing = path(QStringLiteral("missing"));
    QCOMPARE(failureOf([&] { ops.moveFile(missing, dest, true, true); }),
             thrown("FileDoesNotExist", QStringLiteral("Source doesn't exists: ") + missing));

    QCOMPARE(failureOf([&] { ops.moveFile(src, path(QStringLiteral("no/dir/x")), false, false); }),
             thrown("FileSystemException", systemError(ENOENT)));
    QCOMPARE(contentOf(src), QByteArray("source"));

    {
        const LockHolder holder(src, "delete");
        QVERIFY(holder.isLocked());
        QCOMPARE(failureOf([&] { ops.moveFile(src, path(QStringLiteral("y")), false, false); }),
                 thrown("Locked", QStringLiteral("File is locked: ") + src));
    }
    QCOMPARE(contentOf(src), QByteArray("source"));

    CFaultyFSOperations faulty;
    faulty.vanishing = src;
    QCOMPARE(failureOf([&] { faulty.moveFile(src, path(QStringLiteral("z")), true, false); }),
             thrown("DoesNotExist", systemError(ENOENT)));
    QVERIFY(!exists(path(QStringLiteral("z"))));
}

void tst_CLinuxFSOperations::moveFileAcrossFileSystems()
{
    const QString shm = QStringLiteral("/dev/shm");
    if (!QFileInfo(shm).isDir() || !QFileInfo(shm).isWritable() ||
        statusOf(shm).st_dev == statusOf(root).st_dev)
        QSKIP("no second writable file system");
    QTemporaryDir other(shm + QStringLiteral("/tst_CLinuxFSOperations-XXXXXX"));
    QVERIFY(other.isValid());
    const QString src = path(QStringLiteral("stay here"));
    QVERIFY(writeFile(src, "not moved"));
    const QString dest = other.path() + QStringLiteral("/moved");
    QCOMPARE(failureOf([&] { ops.moveFile(src, dest, true, true); }),
             thrown("FileSystemException", systemError(EXDEV)));
    QCOMPARE(contentOf(src), QByteArray("not moved"));
    QVERIFY(!exists(dest));
}

void tst_CLinuxFSOperations::moveAndRenameDirectory()
{
    const QString src = path(QStringLiteral("parent/tree/"));
    QVERIFY(writeFile(src + QStringLiteral("file"), "f"));
    const QStringList before = snapshot(src);
    const QString renamed = path(QStringLiteral("parent/renamed"));
    QVERIFY(ops.renameDirectory(src, renamed));
    QCOMPARE(snapshot(renamed + QLatin1Char('/')), before);

    QCOMPARE(failureOf([&] { ops.renameDirectory(renamed, path(QStringLiteral("elsewhere/x"))); }),
             thrown("InvalidParameter", QStringLiteral("Paths not equal")));

    const QString occupied = path(QStringLiteral("occupied"));
    QVERIFY(QDir().mkpath(occupied));
    QCOMPARE(failureOf([&] { ops.moveDirectory(renamed, occupied, false); }),
             thrown("DirectoryExists", QStringLiteral("Destination already exists: ") + occupied));
    QCOMPARE(snapshot(renamed + QLatin1Char('/')), before);

    const QString moved = path(QStringLiteral("deep/er/moved"));
    QVERIFY(ops.moveDirectory(renamed, moved, true));
    QCOMPARE(snapshot(moved + QLatin1Char('/')), before);

    const QString missing = path(QStringLiteral("missing"));
    QCOMPARE(failureOf([&] { ops.moveDirectory(missing, renamed, true); }),
             thrown("DirectoryDoesNotExist", QStringLiteral("Source doesn't exists: ") + missing));

    const LockHolder holder(moved, "exclusive");
    QVERIFY(holder.isLocked());
    expectCritical("CLinuxFSOperations::moveDirectory", QStringLiteral("Directory locked"));
    QCOMPARE(failureOf([&] { ops.moveDirectory(moved, renamed, false); }),
             thrown("Locked", QStringLiteral("Directory is locked: ") + moved));
    QCOMPARE(snapshot(moved + QLatin1Char('/')), before);
}

void tst_CLinuxFSOperations::deleteFile()
{
    const QString file = path(QStringLiteral("doomed"));
    QVERIFY(writeFile(file, "x"));
    QVERIFY(ops.deleteFile(file, false));
    QVERIFY(!exists(file));

    const QString readOnly = path(QStringLiteral("read-only"));
    QVERIFY(writeFile(readOnly, "x"));
    QVERIFY(::chmod(QFile::encodeName(readOnly).constData(), 0444) == 0);
    QVERIFY(ops.deleteFile(readOnly, false));
    QVERIFY(!exists(readOnly));

    // A link goes, what it points to stays.
    const QString target = path(QStringLiteral("target"));
    QVERIFY(writeFile(target, "kept"));
    QVERIFY(::chmod(QFile::encodeName(target).constData(), 0444) == 0);
    const QString link = path(QStringLiteral("link"));
    QVERIFY(QFile::link(target, link));
    QVERIFY(ops.deleteFile(link, false));
    QVERIFY(!exists(link));
    QCOMPARE(contentOf(target), QByteArray("kept"));
    QCOMPARE(modeOf(target), mode_t(0444));

    // With force the checks are skipped: a lock held by another process does not keep it.
    const QString busy = path(QStringLiteral("busy"));
    QVERIFY(writeFile(busy, "x"));
    const LockHolder holder(busy, "exclusive");
    QVERIFY(holder.isLocked());
    QVERIFY(ops.deleteFile(busy, true));
    QVERIFY(!exists(busy));
}

void tst_CLinuxFSOperations::deleteFileFailures()
{
    const QString missing = path(QStringLiteral("missing"));
    expectCritical("CLinuxFSOperations::deleteFile",
                   QStringLiteral("Failed to remove readonly attribute for ") + missing);
    QCOMPARE(failureOf([&] { ops.deleteFile(missing, false); }),
             thrown("FileDoesNotExist", QStringLiteral("File not found: ") + missing));
    expectCritical("CLinuxFSOperations::deleteFile",
                   QStringLiteral("Failed to remove readonly attribute for ") + missing);
    QCOMPARE(failureOf([&] { ops.deleteFile(missing, true); }),
             thrown("FileDoesNotExist", QStringLiteral("File not found: ") + missing));

    const QString busy = path(QStringLiteral("busy"));
    QVERIFY(writeFile(busy, "x"));
    {
        const LockHolder holder(busy, "delete");
        QVERIFY(holder.isLocked());
        QCOMPARE(failureOf([&] { ops.deleteFile(busy, false); }),
                 thrown("Locked", QStringLiteral("File is locked: ") + busy));
        QCOMPARE(contentOf(busy), QByteArray("x"));
    }

    const QString folder = path(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(failureOf([&] { ops.deleteFile(folder, true); }),
             thrown("FileSystemException", systemError(EISDIR)));

    if (runningAsRoot())
        QSKIP("root is not refused by permission bits");
    const QString closed = path(QStringLiteral("closed/"));
    QVERIFY(writeFile(closed + QStringLiteral("file"), "x"));
    QVERIFY(::chmod(QFile::encodeName(closed).constData(), 0555) == 0);
    QCOMPARE(failureOf([&] { ops.deleteFile(closed + QStringLiteral("file"), false); }),
             thrown("FileSystemException", systemError(EACCES)));
    QCOMPARE(contentOf(closed + QStringLiteral("file")), QByteArray("x"));
}

void tst_CLinuxFSOperations::deleteDirectoryWithoutForceKeepsEverything()
{
    const QString folder = path(QStringLiteral("full/"));
    QVERIFY(writeFile(folder + QStringLiteral("a.txt"), "a"));
    QVERIFY(writeFile(folder + QStringLiteral("sub/b.txt"), "b"));
    const QStringList before = snapshot(folder);
    QCOMPARE(failureOf([&] { ops.deleteDirectory(folder, false); }),
             thrown("DirectoryNotEmpty", QStringLiteral("Could not delete directory: ") + folder));
    QCOMPARE(snapshot(folder), before);

    const QString missing = path(QStringLiteral("missing"));
    QCOMPARE(failureOf([&] { ops.deleteDirectory(missing, true); }),
             thrown("DirectoryDoesNotExist", QStringLiteral("Directory not found: ") + missing));
    const QString file = folder + QStringLiteral("a.txt");
    QCOMPARE(failureOf([&] { ops.deleteDirectory(file, true); }),
             thrown("NotADirectory", file + QStringLiteral(" is not a directory")));
}

void tst_CLinuxFSOperations::deleteDirectoryWithForce()
{
    const QString outside = path(QStringLiteral("outside/"));
    QVERIFY(writeFile(outside + QStringLiteral("keep.txt"), "keep"));
    const QString folder = path(QStringLiteral("full"));
    QVERIFY(writeFile(folder + QStringLiteral("/a.txt"), "a"));
    QVERIFY(writeFile(folder + QStringLiteral("/sub/deeper/b."), "b"));
    QVERIFY(writeFile(folder + QStringLiteral("/sub/.hidden"), "h"));
    QVERIFY(writeFile(folder + QStringLiteral("/sub/..."), "dots"));
    QVERIFY(writeFile(folder + QStringLiteral("/sub/line\nbreak"), "n"));
    QVERIFY(QFile::link(outside, folder + QStringLiteral("/linkToOutside")));
    QVERIFY(::chmod(QFile::encodeName(folder + QStringLiteral("/a.txt")).constData(), 0444) == 0);
    QVERIFY(::chmod(QFile::encodeName(folder + QStringLiteral("/sub/deeper")).constData(), 0555) ==
            0);
    QVERIFY(ops.deleteDirectory(folder, true));
    QVERIFY(!exists(folder));
    QCOMPARE(contentOf(outside + QStringLiteral("keep.txt")), QByteArray("keep"));
}

void tst_CLinuxFSOperations::deleteDirectoryOfLockedDirectory()
{
    const QString folder = path(QStringLiteral("busy"));
    QVERIFY(QDir().mkpath(folder));
    const LockHolder holder(folder, "write");
    QVERIFY(holder.isLocked());
    expectCritical("CLinuxFSOperations::deleteDirectory", QStringLiteral("Directory locked"));
    QCOMPARE(failureOf([&] { ops.deleteDirectory(folder, true); }),
             thrown("Locked", QStringLiteral("Directory is locked: ") + folder));
    QVERIFY(QFileInfo(folder).isDir());
}

void tst_CLinuxFSOperations::cleanDirectory()
{
    const QString folder = path(QStringLiteral("folder/"));
    QVERIFY(writeFile(folder + QStringLiteral("a"), "a"));
    QVERIFY(writeFile(folder + QStringLiteral("trailing."), "t"));
    QVERIFY(writeFile(folder + QStringLiteral("..hidden"), "h"));
    QVERIFY(::chmod(QFile::encodeName(folder + QStringLiteral("a")).constData(), 0444) == 0);
    QVERIFY(ops.cleanDirectory(folder, false));
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(snapshot(folder), QStringList());

    QVERIFY(writeFile(folder + QStringLiteral("top"), "t"));
    QVERIFY(writeFile(folder + QStringLiteral("sub/ファイル"), "f"));
    const QString sub = folder + QStringLiteral("sub");
    QCOMPARE(failureOf([&] { ops.cleanDirectory(folder, false); }),
             thrown("DirectoryNotEmpty", QStringLiteral("Could not delete directory: ") + sub));
    QCOMPARE(contentOf(sub + QStringLiteral("/ファイル")), QByteArray("f"));

    QVERIFY(ops.cleanDirectory(folder, true));
    QCOMPARE(snapshot(folder), QStringList());
}

void tst_CLinuxFSOperations::cleanDirectoryFailures()
{
    const QString missing = path(QStringLiteral("missing"));
    expectCritical("CLinuxFSOperations::cleanDirectory",
                   QStringLiteral("directory doesn't exists"));
    QVERIFY(!ops.cleanDirectory(missing, true));

    const QString folder = path(QStringLiteral("busy/"));
    QVERIFY(writeFile(folder + QStringLiteral("file"), "x"));
    {
        const LockHolder holder(folder, "exclusive");
        QVERIFY(holder.isLocked());
        expectCritical("CLinuxFSOperations::cleanDirectory", QStringLiteral("tryWirteLock failed"));
        QVERIFY(!ops.cleanDirectory(folder, true));
        QCOMPARE(contentOf(folder + QStringLiteral("file")), QByteArray("x"));
    }

    if (runningAsRoot())
        QSKIP("root is not refused by permission bits");
    // A folder that cannot be read cannot be opened for the write probe either.
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0300) == 0);
    expectCritical("CLinuxFSOperations::cleanDirectory", QStringLiteral("tryWirteLock failed"));
    QVERIFY(!ops.cleanDirectory(folder, true));
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0700) == 0);
    QCOMPARE(contentOf(folder + QStringLiteral("file")), QByteArray("x"));
}

void tst_CLinuxFSOperations::timeStamps()
{
    const QString file = path(QStringLiteral("stamped"));
    QVERIFY(writeFile(file, "x"));
    const QDateTime accessed(QDate(2001, 9, 9), QTime(1, 46, 40), Qt::UTC);
    const QDateTime written(QDate(2011, 1, 24), QTime(15, 30, 0, 123), Qt::UTC);
    QVERIFY(ops.setTimeStamps(file, QDateTime(), accessed, written, false));
    QCOMPARE(QFileInfo(file).lastRead().toUTC(), accessed);
    QCOMPARE(QFileInfo(file).lastModified().toUTC(), written);

    // A null stamp is left as it is; the creation time has no place to go.
    const QDateTime later = written.addDays(1);
    QVERIFY(ops.setTimeStamps(file, QDateTime::currentDateTimeUtc(), QDateTime(), later, false));
    QCOMPARE(QFileInfo(file).lastRead().toUTC(), accessed);
    QCOMPARE(QFileInfo(file).lastModified().toUTC(), later);
    QVERIFY(ops.setTimeStamps(file, QDateTime(), QDateTime(), QDateTime(), false));
    QVERIFY(ops.setTimeStamps(file, written, QDateTime(), QDateTime(), false));
    QCOMPARE(QFileInfo(file).lastModified().toUTC(), later);

    // A local time means the same instant.
    const QDateTime local = written.toOffsetFromUtc(3600 * 5);
    QVERIFY(ops.setTimeStamps(file, QDateTime(), QDateTime(), local, false));
    QCOMPARE(QFileInfo(file).lastModified().toUTC(), written);

    const QString folder = path(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(ops.setTimeStamps(folder, QDateTime(), QDateTime(), written, true));
    QCOMPARE(QFileInfo(folder).lastModified().toUTC(), written);

    // Others holding a lock do not keep the stamps from being written.
    const LockHolder holder(file, "exclusive");
    QVERIFY(holder.isLocked());
    QVERIFY(ops.setTimeStamps(file, QDateTime(), QDateTime(), written, false));
    QCOMPARE(QFileInfo(file).lastModified().toUTC(), written);
}

void tst_CLinuxFSOperations::timeStampsFailures_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QDateTime>("creation");
    QTest::addColumn<QDateTime>("lastWrite");
    QTest::addColumn<QString>("failure");
    const QDateTime fine(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime early(QDate(1969, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
    const QDateTime late(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC);
    const QString invalid = thrown("InvalidParameter", QStringLiteral("Timestamp is invalid"));
    QTest::newRow("missing") << "missing" << QDateTime() << fine
                             << thrown("DoesNotExist",
                                       QStringLiteral("Specified path doesn't exist: ") +
                                           QStringLiteral("%1missing"));
    QTest::newRow("missing, creation only")
        << "missing" << fine << QDateTime()
        << thrown("DoesNotExist", QStringLiteral("Specified path doesn't exist: %1missing"));
    QTest::newRow("missing parent")
        << "no/file" << QDateTime() << fine
        << thrown("DoesNotExist", QStringLiteral("Specified path doesn't exist: %1no/file"));
    QTest::newRow("before 1970") << "file" << QDateTime() << early << invalid;
    QTest::newRow("after 9999") << "file" << QDateTime() << late << invalid;
    QTest::newRow("invalid creation") << "file" << late << fine << invalid;
    QTest::newRow("earliest") << "file" << QDateTime() << early.addMSecs(1) << "nothing thrown";
}

void tst_CLinuxFSOperations::timeStampsFailures()
{
    QFETCH(QString, relative);
    QFETCH(QDateTime, creation);
    QFETCH(QDateTime, lastWrite);
    QFETCH(QString, failure);
    const QString file = path(QStringLiteral("file"));
    QVERIFY(writeFile(file, "x"));
    const QDateTime before = QFileInfo(file).lastModified().toUTC();
    QCOMPARE(failureOf([&] {
                 ops.setTimeStamps(path(relative), creation, QDateTime(), lastWrite, false);
             }),
             failure.contains(QLatin1String("%1")) ? failure.arg(root) : failure);
    if (failure != QLatin1String("nothing thrown"))
        QCOMPARE(QFileInfo(file).lastModified().toUTC(), before);
}

void tst_CLinuxFSOperations::attributes()
{
    const QString file = path(QStringLiteral("file"));
    QVERIFY(writeFile(file, "x"));
    QVERIFY(::chmod(QFile::encodeName(file).constData(), 0664) == 0);
    QVERIFY(ops.setAttributes(file, FSAttributes::Hidden | FSAttributes::System));
    QCOMPARE(modeOf(file), mode_t(0664));
    QVERIFY(ops.setAttributes(file, FSAttributes::ReadOnly));
    QCOMPARE(modeOf(file), mode_t(0444));
    QVERIFY(ops.setAttributes(file, FSAttributes::ReadOnly));
    QCOMPARE(modeOf(file), mode_t(0444));
    QVERIFY(ops.removeAttributes(file, FSAttributes::Hidden));
    QCOMPARE(modeOf(file), mode_t(0444));
    QVERIFY(ops.removeAttributes(file, FSAttributes::ReadOnly));
    QCOMPARE(modeOf(file), mode_t(0644));

    const QString folder = path(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
    QVERIFY(ops.setAttributes(folder, FSAttributes::ReadOnly));
    QCOMPARE(modeOf(folder), mode_t(0555));
    QVERIFY(ops.removeAttributes(folder, FSAttributes::ReadOnly));
    QCOMPARE(modeOf(folder), mode_t(0755));

    // A link has no attributes of its own, and its target is left alone.
    const QString link = path(QStringLiteral("link"));
    QVERIFY(QFile::link(file, link));
    QVERIFY(ops.setAttributes(link, FSAttributes::ReadOnly));
    QCOMPARE(modeOf(file), mode_t(0644));

    const QString missing = path(QStringLiteral("missing"));
    QCOMPARE(failureOf([&] { ops.setAttributes(missing, FSAttributes::ReadOnly); }),
             thrown("DoesNotExist", QStringLiteral("Specified path doesn't exist: ") + missing));
    QCOMPARE(failureOf([&] { ops.removeAttributes(missing, FSAttributes::ReadOnly); }),
             thrown("DoesNotExist", QStringLiteral("Specified path doesn't exist: ") + missing));
}

void tst_CLinuxFSOperations::identityAndLinks()
{
    const QString file = path(QStringLiteral("file"));
    const QString hardLink = path(QStringLiteral("hard"));
    const QString other = path(QStringLiteral("other"));
    const QString symbolic = path(QStringLiteral("symbolic"));
    QVERIFY(writeFile(file, "x"));
    QVERIFY(writeFile(other, "x"));
    QVERIFY(::link(QFile::encodeName(file).constData(), QFile::encodeName(hardLink).constData()) ==
            0);
    QVERIFY(QFile::link(file, symbolic));

    QString fileId, hardId, otherId, symbolicId;
    QVERIFY(ops.getFSID(file, fileId));
    QVERIFY(ops.getFSID(hardLink, hardId));
    QVERIFY(ops.getFSID(other, otherId));
    QVERIFY(ops.getFSID(symbolic, symbolicId));
    QVERIFY(!fileId.isEmpty());
    QCOMPARE(hardId, fileId);
    QVERIFY(otherId != fileId);
    QVERIFY(symbolicId != fileId);
    const QString missing = path(QStringLiteral("missing"));
    QCOMPARE(failureOf([&] { ops.getFSID(missing, fileId); }),
             thrown("DoesNotExist", QStringLiteral("Specified path doesn't exist: ") + missing));

    QVERIFY(ops.isSymbolicLink(symbolic));
    QVERIFY(!ops.isSymbolicLink(file));

    // A link is not held open by whoever holds its target, and probing it leaves the target be.
    QVERIFY(::chmod(QFile::encodeName(file).constData(), 0444) == 0);
    const LockHolder holder(file, "exclusive");
    QVERIFY(holder.isLocked());
    QVERIFY(ops.tryExclusiveLock(symbolic));
    QVERIFY(ops.tryWriteLock(symbolic));
    QCOMPARE(modeOf(file), mode_t(0444));
    QVERIFY(!ops.tryExclusiveLock(file));
    QVERIFY(!ops.isSymbolicLink(root));
    QVERIFY(!ops.isSymbolicLink(missing));
}

void tst_CLinuxFSOperations::safeDeleteFile()
{
    const QString file = path(QStringLiteral("doomed file"));
    const QString safe = path(QStringLiteral("~doomed"));
    QVERIFY(writeFile(file, "x"));
    QVERIFY(ops.safeDeleteFile(file, safe, false));
    QVERIFY(!exists(file));
    QVERIFY(!exists(safe));
}

void tst_CLinuxFSOperations::safeDeleteFileRollsBack_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("throws");
    QTest::newRow("deletion answers false") << Fault::ReturnFalse << false << false;
    QTest::newRow("deletion throws") << Fault::Throw << false << true;
}

void tst_CLinuxFSOperations::safeDeleteFileRollsBack()
{
    QFETCH(Fault, fault);
    QFETCH(bool, result);
    QFETCH(bool, throws);
    const QString file = path(QStringLiteral("kept/файл"));
    const QString safe = path(QStringLiteral("kept/~safe"));
    QVERIFY(writeFile(file, QByteArray(5000, 'k')));
    QVERIFY(::chmod(QFile::encodeName(file).constData(), 0640) == 0);
    const QStringList before = snapshot(path(QStringLiteral("kept/")));

    CFaultyFSOperations faulty;
    faulty.faults.insert(QStringLiteral("deleteFile ") + safe, fault);
    bool answer = true;
    const QString failure = failureOf([&] { answer = faulty.safeDeleteFile(file, safe, true); });
    QCOMPARE(failure,
             throws ? thrown("FileSystemException", QStringLiteral("ERROR at ROLLBACK: ") + file)
                    : QStringLiteral("nothing thrown"));
    if (!throws)
        QCOMPARE(answer, result);
    QCOMPARE(snapshot(path(QStringLiteral("kept/"))), before);

    // When the way back is blocked too, the file stays under the safe name.
    faulty.faults.insert(QStringLiteral("moveFile ") + safe + QStringLiteral(" -> ") + file,
                         Fault::ReturnFalse);
    QCOMPARE(failureOf([&] { faulty.safeDeleteFile(file, safe, true); }),
             thrown("FileSystemException", QStringLiteral("ERROR at ROLLBACK: ") + file));
    QVERIFY(!exists(file));
    QCOMPARE(contentOf(safe), QByteArray(5000, 'k'));
}

void tst_CLinuxFSOperations::safeDeleteFileFailures()
{
    const QString missing = path(QStringLiteral("missing"));
    const QString safe = path(QStringLiteral("~safe"));
    QCOMPARE(failureOf([&] { ops.safeDeleteFile(missing, safe, false); }),
             thrown("FileDoesNotExist", QStringLiteral("File not found: ") + missing));
    QVERIFY(!exists(safe));

    const QString file = path(QStringLiteral("file"));
    QVERIFY(writeFile(file, "mine"));
    QVERIFY(writeFile(safe, "someone else's"));
    QCOMPARE(failureOf([&] { ops.safeDeleteFile(file, safe, false); }),
             thrown("FileSystemException",
                    QStringLiteral("Could not rename file to safe name: ") + file));
    QCOMPARE(contentOf(file), QByteArray("mine"));
    QCOMPARE(contentOf(safe), QByteArray("someone else's"));
}

void tst_CLinuxFSOperations::safeDeleteDirectory()
{
    const QString folder = path(QStringLiteral("tree/"));
    const QString safe = path(QStringLiteral("~tree"));
    QVERIFY(writeFile(folder + QStringLiteral("a"), "a"));
    QVERIFY(writeFile(folder + QStringLiteral("sub/b"), "b"));
    const QStringList before = snapshot(folder);

    // Without force the non-empty folder cannot go: it comes back whole.
    QCOMPARE(failureOf([&] { ops.safeDeleteDirectory(folder, safe, false); }),
             thrown("FileSystemException", QStringLiteral("ERROR at ROLLBACK: ") + folder));
    QCOMPARE(snapshot(folder), before);
    QVERIFY(!exists(safe));

    CFaultyFSOperations faulty;
    faulty.faults.insert(QStringLiteral("deleteDirectory ") + safe, Fault::ReturnFalse);
    QVERIFY(!faulty.safeDeleteDirectory(folder, safe, true));
    QCOMPARE(snapshot(folder), before);
    QVERIFY(!exists(safe));

    QVERIFY(ops.safeDeleteDirectory(folder, safe, true));
    QVERIFY(!exists(folder));
    QVERIFY(!exists(safe));

    const QString missing = path(QStringLiteral("missing"));
    QCOMPARE(failureOf([&] { ops.safeDeleteDirectory(missing, safe, true); }),
             thrown("DirectoryDoesNotExist", QStringLiteral("Directory not found: ") + missing));
}

void tst_CLinuxFSOperations::safeCleanDirectory()
{
    const QString folder = path(QStringLiteral("folder/"));
    const QString safe = path(QStringLiteral("~parked"));
    QVERIFY(writeFile(folder + QStringLiteral("a"), "a"));
    QVERIFY(writeFile(folder + QStringLiteral("sub/b"), "b"));
    QVERIFY(writeFile(folder + QStringLiteral("sub/c d"), "c"));
    QVERIFY(ops.safeCleanDirectory(folder, safe, true));
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(snapshot(folder), QStringList());
    QVERIFY(!exists(safe));

    const QString missing = path(QStringLiteral("missing"));
    expectCritical("CLinuxFSOperations::safeCleanDirectory",
                   QStringLiteral("directory doesn't exists"));
    QVERIFY(!ops.safeCleanDirectory(missing, safe, true));
}

void tst_CLinuxFSOperations::safeCopyFile()
{
    const QString src = path(QStringLiteral("src"));
    const QString dest = path(QStringLiteral("dest"));
    const QString safe = path(QStringLiteral("~dest"));
    QVERIFY(writeFile(src, "copy me"));
    QVERIFY(ops.safeCopyFile(src, dest, safe, false, false, false));
    QCOMPARE(contentOf(dest), QByteArray("copy me"));
    QVERIFY(!exists(safe));

    QCOMPARE(failureOf([&] { ops.safeCopyFile(src, dest, safe, false, false, false); }),
             thrown("FileExists", QStringLiteral("Destination already exists: ") + dest));
    const QString missing = path(QStringLiteral("missing"));
    QCOMPARE(failureOf([&] { ops.safeCopyFile(missing, dest, safe, false, false, false); }),
             thrown("FileDoesNotExist", QStringLiteral("File not found: ") + missing));

    // A failure inside is logged and answered with false; nothing stays under the safe name.
    const QString second = path(QStringLiteral("second"));
    CFaultyFSOperations faulty;
    faulty.faults.insert(QStringLiteral("moveFile ") + safe + QStringLiteral(" -> ") + second,
                         Fault::Throw);
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("CLinuxFSOperations::safeCopyFile \\] "
                                                           "Exceptions::FileSystemException::"
                                                           "FileSystemException.*injected fault"),
                                            QRegularExpression::DotMatchesEverythingOption));
    QVERIFY(!faulty.safeCopyFile(src, second, safe, false, false, false));
    QVERIFY(!exists(second));
    QVERIFY(!exists(safe));

    // A safe name taken by someone else is left alone.
    QVERIFY(writeFile(safe, "not mine"));
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("CLinuxFSOperations::safeCopyFile \\] "
                                                           "Exceptions::FileExists::FileExists.*"
                                                           "Destination already exists: ") +
                                                QRegularExpression::escape(safe),
                                            QRegularExpression::DotMatchesEverythingOption));
    QVERIFY(!ops.safeCopyFile(src, second, safe, false, false, false));
    QCOMPARE(contentOf(safe), QByteArray("not mine"));
    QVERIFY(!exists(second));
}

void tst_CLinuxFSOperations::safeMoveFile()
{
    const QString src = path(QStringLiteral("src file"));
    const QString dest = path(QStringLiteral("new/parent/dest"));
    const QString safe = path(QStringLiteral("~safe"));
    QVERIFY(writeFile(src, QByteArray(10000, 'm')));
    QVERIFY(::chmod(QFile::encodeName(src).constData(), 0600) == 0);
    const QStringList before = snapshot(root);

    CFaultyFSOperations faulty;
    faulty.faults.insert(QStringLiteral("moveFile ") + safe + QStringLiteral(" -> ") + dest,
                         Fault::ReturnFalse);
    QVERIFY(!faulty.safeMoveFile(src, dest, safe, false, false));
    QVERIFY(!exists(safe));
    QVERIFY(!exists(dest));
    QCOMPARE(contentOf(src), QByteArray(10000, 'm'));
    QCOMPARE(modeOf(src), mode_t(0600));

    faulty.faults.insert(QStringLiteral("moveFile ") + safe + QStringLiteral(" -> ") + dest,
                         Fault::Throw);
    QCOMPARE(failureOf([&] { faulty.safeMoveFile(src, dest, safe, false, false); }),
             thrown("FileSystemException", QStringLiteral("injected fault")));
    QCOMPARE(contentOf(src), QByteArray(10000, 'm'));

    faulty.faults.insert(QStringLiteral("moveFile ") + safe + QStringLiteral(" -> ") + src,
                         Fault::ReturnFalse);
    QCOMPARE(failureOf([&] { faulty.safeMoveFile(src, dest, safe, false, false); }),
             thrown("FileSystemException", QStringLiteral("ERROR at ROLLBACK: ") + src));
    QCOMPARE(contentOf(safe), QByteArray(10000, 'm'));
    QVERIFY(ops.moveFile(safe, src, false, false));

    // A destination folder that cannot be made fails the move before anything moved.
    QVERIFY(writeFile(path(QStringLiteral("plain file")), "f"));
    const QString blocked = path(QStringLiteral("plain file/sub"));
    expectCritical("CLinuxFSOperations::safeMoveFile",
                   QStringLiteral("Could not force Directory ") + blocked);
    QCOMPARE(failureOf([&] {
                 ops.safeMoveFile(src, blocked + QStringLiteral("/dest"), safe, true, false);
             }),
             thrown("NotADirectory",
                    path(QStringLiteral("plain file")) + QStringLiteral(" is not a directory")));
    QCOMPARE(contentOf(src), QByteArray(10000, 'm'));
    QVERIFY(!exists(safe));

    // A stale object under the safe name is replaced by the parked source.
    QVERIFY(writeFile(safe, "stale"));
    QVERIFY(ops.safeMoveFile(src, dest, safe, false, false));
    QCOMPARE(contentOf(dest), QByteArray(10000, 'm'));
    QVERIFY(!exists(src));
    QVERIFY(!exists(safe));

    const QString occupied = path(QStringLiteral("occupied"));
    QVERIFY(writeFile(occupied, "old"));
    QCOMPARE(failureOf([&] { ops.safeMoveFile(dest, occupied, safe, false, false); }),
             thrown("FileExists", QStringLiteral("Destination already exists: ") + occupied));
    QVERIFY(ops.safeMoveFile(dest, occupied, safe, false, true));
    QCOMPARE(contentOf(occupied), QByteArray(10000, 'm'));

    QCOMPARE(
        failureOf([&] { ops.safeRenameFile(occupied, path(QStringLiteral("x/y")), safe, false); }),
        thrown("InvalidParameter", QStringLiteral("Paths not equal")));
    QVERIFY(ops.safeRenameFile(occupied, path(QStringLiteral("renamed")), safe, false));
    QCOMPARE(contentOf(path(QStringLiteral("renamed"))), QByteArray(10000, 'm'));
    Q_UNUSED(before);
}

void tst_CLinuxFSOperations::safeMoveAndRenameDirectory()
{
    const QString src = path(QStringLiteral("tree"));
    const QString dest = path(QStringLiteral("moved"));
    const QString safe = path(QStringLiteral("~tree"));
    QVERIFY(writeFile(src + QStringLiteral("/a"), "a"));
    QVERIFY(writeFile(src + QStringLiteral("/sub/b"), "b"));
    const QStringList before = snapshot(src + QLatin1Char('/'));

    CFaultyFSOperations faulty;
    faulty.faults.insert(QStringLiteral("moveDirectory ") + safe + QStringLiteral(" -> ") + dest,
                         Fault::ReturnFalse);
    QVERIFY(!faulty.safeMoveDirectory(src, dest, safe, false));
    QCOMPARE(snapshot(src + QLatin1Char('/')), before);
    QVERIFY(!exists(safe));
    QVERIFY(!exists(dest));

    QVERIFY(QDir().mkpath(safe));
    QCOMPARE(failureOf([&] { ops.safeMoveDirectory(src, dest, safe, false); }),
             thrown("FileSystemException",
                    QStringLiteral("Could not rename file to safe name: ") + src));
    QCOMPARE(snapshot(src + QLatin1Char('/')), before);
    QVERIFY(QDir().rmdir(safe));

    QVERIFY(ops.safeMoveDirectory(src, dest, safe, false));
    QCOMPARE(snapshot(dest + QLatin1Char('/')), before);
    QVERIFY(!exists(src));

    QCOMPARE(failureOf([&] { ops.safeRenameDirectory(dest, path(QStringLiteral("x/y")), safe); }),
             thrown("InvalidParameter", QStringLiteral("Paths not equal")));
    QVERIFY(ops.safeRenameDirectory(dest, src, safe));
    QCOMPARE(snapshot(src + QLatin1Char('/')), before);
}

void tst_CLinuxFSOperations::safeCreateDirectory()
{
    const QDateTime written(QDate(2012, 12, 21), QTime(11, 11), Qt::UTC);
    const QString folder = path(QStringLiteral("created"));
    const QString safe = path(QStringLiteral("~created"));
    QVERIFY(ops.safeCreateDirectory(folder, safe, QDateTime(), QDateTime(), written, 0, false));
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(QFileInfo(folder).lastModified().toUTC(), written);
    QVERIFY(!exists(safe));

    QCOMPARE(failureOf([&] {
                 ops.safeCreateDirectory(folder, safe, QDateTime(), QDateTime(), written, 0, false);
             }),
             thrown("DirectoryExists", QStringLiteral("Destination already exists: ") + folder));

    const QString second = path(QStringLiteral("second"));
    CFaultyFSOperations faulty;
    faulty.faults.insert(QStringLiteral("setTimeStamps ") + second, Fault::ReturnFalse);
    expectCritical("CLinuxFSOperations::safeCreateDirectory",
                   QStringLiteral("could not set TimeStamp"));
    QVERIFY(!faulty.safeCreateDirectory(second, safe, QDateTime(), QDateTime(), written, 0, false));
    QVERIFY(!exists(second));
    QVERIFY(!exists(safe));

    QVERIFY(QDir().mkpath(safe));
    QCOMPARE(failureOf([&] {
                 ops.safeCreateDirectory(second, safe, QDateTime(), QDateTime(), written, 0, false);
             }),
             thrown("FileSystemException",
                    QStringLiteral("createDirectory failed. Errno: Destination already exists: ") +
                        safe));
    QVERIFY(!exists(second));
}

void tst_CLinuxFSOperations::safeSetTimeStamps()
{
    const QDateTime written(QDate(2003, 3, 3), QTime(3, 3, 3), Qt::UTC);
    const QString file = path(QStringLiteral("file"));
    const QString folder = path(QStringLiteral("folder"));
    const QString safe = path(QStringLiteral("~safe"));
    QVERIFY(writeFile(file, "stamp me"));
    QVERIFY(writeFile(folder + QStringLiteral("/inside"), "i"));

    QVERIFY(ops.safeSetTimeStamps(file, safe, QDateTime(), QDateTime(), written, false));
    QCOMPARE(QFileInfo(file).lastModified().toUTC(), written);
    QCOMPARE(contentOf(file), QByteArray("stamp me"));
    QVERIFY(!exists(safe));
    QVERIFY(ops.safeSetTimeStamps(folder, safe, QDateTime(), QDateTime(), written, true));
    QCOMPARE(QFileInfo(folder).lastModified().toUTC(), written);
    QVERIFY(!exists(safe));

    // With the safe name taken the stamps are written in place.
    QVERIFY(writeFile(safe, "taken"));
    const QDateTime later = written.addYears(1);
    expectCritical("CLinuxFSOperations::safeSetTimeStamps",
                   QStringLiteral("could not rename file/dir to safename before setting "
                                  "timestamps -> now set timestamps to original file/dir"));
    QVERIFY(ops.safeSetTimeStamps(file, safe, QDateTime(), QDateTime(), later, false));
    QCOMPARE(QFileInfo(file).lastModified().toUTC(), later);
    QCOMPARE(contentOf(safe), QByteArray("taken"));
}

QTEST_GUILESS_MAIN(tst_CLinuxFSOperations)
#include "tst_CLinuxFSOperations.moc"
