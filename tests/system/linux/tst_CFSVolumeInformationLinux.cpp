// The Linux volume queries against what findmnt and stat say (Reference, the answer they give for
// a path, is the cases' own), on real mounts, images and a table of mounts written for a case.
#include "system/linux/CFSVolumeInformationLinux.h"

#include "common/CExpect.h"
#include "common/CTestChild.h"
#include "common/CTestEnvironment.h"
#include "common/CTestThreads.h"
#include "common/CTestTree.h"
#include "system/CFSVolumeInformation.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>

#include <climits>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Volume = CFSVolumeInformationLinux;

void expectRecord(const char* function, const QString& text)
{
    CExpect::record(QtCriticalMsg, QStringLiteral("CFSVolumeInformationLinux.cpp"),
                    "CFSVolumeInformationLinux::" + QLatin1String(function), text);
}

// The record of a path without a root; error is a pattern for the error code.
void expectNoRoot(const QString& path, const QString& error)
{
    CExpect::recordMatching(QtCriticalMsg, QStringLiteral("CFSVolumeInformationLinux.cpp"),
                            QStringLiteral("CFSVolumeInformationLinux::rootPathByPath"),
                            QRegularExpression::escape("Error retrieving volume path name for " +
                                                       path + " - ErrorCode: ") +
                                error);
}

void expectNoRootFor(const char* function, const QString& path, const QString& error)
{
    expectNoRoot(path, error);
    expectRecord(function, "failed to retrieve root path from " + path);
}

// The records of a CFSVolumeInformation whose path has no root for the given reason.
void expectNoVolume(const QString& path, const QString& error)
{
    expectNoRootFor("getVolumeInformationByPath", path, error);
    expectRecord("getDiskFreeSpaceByPath", "failed to retrieve root path from " + path);
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

// The total size the free-space query answers, -1 when it fails.
qint64 diskTotal(const QString& path)
{
    quint64 available = 0, total = 0, free = 0;
    return Volume::getDiskFreeSpaceByPath(path, available, total, free) ? qint64(total) : -1;
}

QString run(const QString& program, const QStringList& arguments, bool* ok = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForStarted() && process.waitForFinished(60000);
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (ok)
        *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return output;
}

// What findmnt and stat, which know nothing of this code, say about the mount holding path.
struct Reference
{
    QString target;
    QString type;
    quint64 totalBytes = 0;
    QString fsid;
};

Reference referenceFor(const QString& path)
{
    Reference reference;
    const QStringList mount =
        run("findmnt", {"-n", "-r", "-o", "TARGET,FSTYPE", "--target", path}).split(u' ');
    if (mount.size() == 2) {
        reference.target = mount.at(0);
        reference.type = mount.at(1);
    }
    const QStringList figures = run("stat", {"-f", "-c", "%b %S %i", path}).split(u' ');
    if (figures.size() == 3) {
        reference.totalBytes = figures.at(0).toULongLong() * figures.at(1).toULongLong();
        reference.fsid = figures.at(2);
    }
    return reference;
}

// stat prints the file-system id as one 64-bit hexadecimal number made of its two 32-bit words
// (which one comes first depends on its version).
bool fsidHolds(const QString& fsid, quint32 serial)
{
    bool ok = false;
    const quint64 id = fsid.toULongLong(&ok, 16);
    return ok && (quint32(id) == serial || quint32(id >> 32) == serial);
}

} // namespace

class tst_CFSVolumeInformationLinux : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void driveTable();
    void paths_data();
    void paths();
    void noPath();
    void unnamedWorkingDirectory_data();
    void unnamedWorkingDirectory();
    void concurrentQueries();
    void liveTable();
    void tmpfsAndBindMounts();
    void ext4Image();
    void mountRace();
    void hangingServer();

private:
    // The fake mount table below the test folder; see writeTable().
    QString tableFile() const { return dir + QStringLiteral("mountinfo"); }
    void writeTable(const QStringList& lines) const;
    QString base() const { return QDir(dir).canonicalPath(); }
};

void tst_CFSVolumeInformationLinux::cleanup()
{
    Volume::setMountInfoPath(QString());
    Volume::setRemoteTimeout(5000);
}

void tst_CFSVolumeInformationLinux::writeTable(const QStringList& lines) const
{
    environment->writeFile("mountinfo", (lines.join(u'\n').replace("$T", base()) + u'\n').toUtf8());
}

// Folders stand for mounts; the table says what is mounted where. Mount 6 sits on top of 2,
// and 8 hides 7 by covering the folder it is mounted in.
static const QStringList fakeTable = {
    QStringLiteral("1 0 0:99 / / rw - ext4 /dev/sy-fake rw"),
    QStringLiteral("10 1 0:58 / $T/local rw - tmpfs //sy-local/share rw"),
    QStringLiteral("2 1 0:50 / $T/ram rw,relatime - tmpfs none rw,size=4k"),
    QStringLiteral("3 1 0:51 / $T/share rw - cifs //server/share rw,vers=3.0"),
    QStringLiteral("4 1 0:52 / $T/nfs rw shared:7 - nfs4 nas:/export rw"),
    QStringLiteral("5 1 0:53 / $T/two\\040words rw - tmpfs tmp\\040fs rw"),
    QStringLiteral("6 2 0:54 / $T/ram rw - ramfs stacked rw"),
    QStringLiteral("7 1 0:55 / $T/a/b rw - tmpfs hidden rw"),
    QStringLiteral("8 1 0:56 / $T/a rw - tmpfs cover rw"),
};

void tst_CFSVolumeInformationLinux::driveTable()
{
    writeTable(fakeTable + QStringList{QStringLiteral("not a mount line")});
    Volume::setMountInfoPath(tableFile());
    const QString t = base();
    QMap<QString, QString> expected = {{"/", "/dev/sy-fake"},
                                       {t + "/ram", "stacked"},
                                       {t + "/share", "//server/share"},
                                       {t + "/nfs", "nas:/export"},
                                       {t + "/two words", "tmp fs"},
                                       {t + "/a", "cover"},
                                       {t + "/local", "//sy-local/share"}};
    expectRecord("refreshLogicalDriveStrings", "Error querying dos device name: not a mount line");
    CExpect::recordMatching(QtDebugMsg, QStringLiteral("CFSVolumeInformationLinux.cpp"),
                            QStringLiteral("CFSVolumeInformationLinux::refreshLogicalDriveStrings"),
                            QStringLiteral("logical drives refreshed: QMap\\(.*\\)"));
    QMap<QString, QString> drives = {{"stale", "entry"}};
    QVERIFY(Volume::getLogicalDriveStrings(drives));
    QCOMPARE(drives, expected);

    // The share is gone, a mount is new and the export point now holds another source: the
    // table keeps what it had and adds the new one.
    QStringList changed = fakeTable;
    changed.removeAt(2);
    changed[2] = QStringLiteral("4 1 0:52 / $T/nfs rw - nfs4 nas:/other rw");
    writeTable(changed << QStringLiteral("9 1 0:57 / $T/new rw - tmpfs fresh rw"));
    expected.insert(t + "/new", "fresh");
    QVERIFY(Volume::getLogicalDriveStrings(drives));
    QCOMPARE(drives, expected);

    // A table that cannot be read fails the refresh and leaves the caller's map empty.
    QVERIFY(QFile::remove(tableFile()));
    expectRecord("refreshLogicalDriveStrings", "Error retrieving logical drive strings: 2");
    QVERIFY(!Volume::getLogicalDriveStrings(drives));
    QVERIFY(drives.isEmpty());
}

// Network paths name a mount by its source, local ones by where it is mounted.
void tst_CFSVolumeInformationLinux::paths_data()
{
    // "$T" the test folder.
    QTest::addColumn<QString>("path");
    // Null when no mount holds the path.
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("kind");
    // Why no mount holds the path.
    QTest::addColumn<int>("error");
    const auto row = [](const char* name, const char* path, const char* root, const char* type,
                        FSDriveType kind) {
        QTest::newRow(name) << QString::fromUtf8(path) << QString::fromUtf8(root)
                            << QString::fromUtf8(type) << int(kind) << 0;
    };
    const auto noRoot = [](const char* name, const char* path, int error = ENOENT) {
        QTest::newRow(name) << QString::fromUtf8(path) << QString() << QString()
                            << int(DRIVE_NO_ROOT_DIR) << error;
    };
    row("share itself", "//server/share", "$T/share/", "cifs", DRIVE_REMOTE);
    row("server and share in other case", "//SERVER/Share/x", "$T/share/", "cifs", DRIVE_REMOTE);
    row("server in other case", "NAS:/export/f", "$T/nfs/", "nfs4", DRIVE_REMOTE);
    // A server form that no network mount answers is a path like any other: Linux reads
    // "//x" as "/x", and "nas:/Export" is a folder "nas:" in the working directory.
    row("export path in other case", "nas:/Export/f", "/", "ext4", DRIVE_UNKNOWN);
    row("longer share name", "//server/shared/x", "/", "ext4", DRIVE_UNKNOWN);
    row("share not mounted", "//other/share/x", "/", "ext4", DRIVE_UNKNOWN);
    row("local path with a doubled slash", "/$T/ram/f.txt", "$T/ram/", "ramfs", DRIVE_RAMDISK);
    row("source of a mount that is no share", "//sy-local/share/x", "/", "ext4", DRIVE_UNKNOWN);
    row("folder", "$T/two words/dir/", "$T/two words/", "tmpfs", DRIVE_RAMDISK);
    row("mount point", "$T/two words", "$T/two words/", "tmpfs", DRIVE_RAMDISK);
    row("not created yet", "$T/ram/not/yet/там.txt", "$T/ram/", "ramfs", DRIVE_RAMDISK);
    row("link into another mount", "$T/link/new.txt", "$T/share/", "cifs", DRIVE_REMOTE);
    row("dangling link", "$T/dangling", "$T/nfs/", "nfs4", DRIVE_REMOTE);
    row("parent through a link", "$T/ram/../link/x", "$T/share/", "cifs", DRIVE_REMOTE);
    row("hidden mount", "$T/a/b/x", "$T/a/", "tmpfs", DRIVE_RAMDISK);
    row("under a file", "$T/plain/file/x", "/", "ext4", DRIVE_UNKNOWN);
    // Links that lead in a circle have no existing parent.
    noRoot("below links in a circle", "$T/loop/x", ELOOP);
    noRoot("links in a circle", "$T/loop", ELOOP);
}

void tst_CFSVolumeInformationLinux::paths()
{
    QFETCH(QString, path);
    QFETCH(QString, root);
    QFETCH(QString, type);
    QFETCH(int, kind);
    QFETCH(int, error);
    QVERIFY(CTestTree::make(dir, "ram/f.txt=x;two words/dir/;share/dir/;share/sub/;nfs/;a/b/;"
                                 "plain/file=x;link->%Rshare/sub;dangling->%Rnfs/missing.txt;"
                                 "loop->%Rloop2;loop2->%Rloop"));
    writeTable(fakeTable);
    Volume::setMountInfoPath(tableFile());
    path.replace(QStringLiteral("$T/"), dir);
    const CRecordCounter criticals(QString(), QtCriticalMsg);
    if (root.isNull()) {
        const QString code = QString::number(error);
        expectNoRoot(path, code);
        QCOMPARE(Volume::rootPathByPath(path), QString());
        expectNoRoot(path, code);
        QCOMPARE(Volume::getDriveTypeByPath(path), DRIVE_NO_ROOT_DIR);
        expectNoRootFor("getDiskFreeSpaceByPath", path, code);
        quint64 available = 1, total = 2, free = 3;
        QVERIFY(!Volume::getDiskFreeSpaceByPath(path, available, total, free));
        QCOMPARE(available + total + free, quint64(6));
        return;
    }
    QCOMPARE(Volume::rootPathByPath(path), root.replace(QStringLiteral("$T"), base()));
    QCOMPARE(Volume::getDriveTypeByPath(path), FSDriveType(kind));
    const CFSVolumeInformation info(path);
    QCOMPARE(info.volumeName, QString());
    QCOMPARE(info.fileSystemName, type);
    // SMB ignores case; the others keep it.
    QCOMPARE(info.fileSystemFlags & FS_CASE_SENSITIVE_SEARCH,
             type == "cifs" ? 0u : quint32(FS_CASE_SENSITIVE_SEARCH));
    QCOMPARE(info.maxComponentLength, 255u);
    QVERIFY(info.totalBytes > 0);
    QVERIFY(info.totalBytes >= info.totalFreeBytes);
    QCOMPARE(info.driveType, FSDriveType(kind));
    QCOMPARE(criticals.count(), 0);
}

// No path at all: no root, and nothing filled in.
void tst_CFSVolumeInformationLinux::noPath()
{
    expectNoRoot(QString(), QString::number(ENOENT));
    QCOMPARE(Volume::rootPathByPath(QString()), QString());
    expectNoVolume(QString(), QString::number(ENOENT));
    const CFSVolumeInformation nothing{QString()};
    QCOMPARE(nothing.fileSystemName, QString());
    QCOMPARE(nothing.serialNumber, 0u);
    QCOMPARE(nothing.totalBytes, quint64(0));
    // The drive type of no path is the working directory's.
    QVERIFY(nothing.driveType != DRIVE_NO_ROOT_DIR);
}

void tst_CFSVolumeInformationLinux::unnamedWorkingDirectory_data()
{
    // Folders of 200 characters to go down; none: the working directory is removed instead.
    QTest::addColumn<int>("depth");
    QTest::newRow("removed") << 0;
    QTest::newRow("deeper than PATH_MAX") << PATH_MAX / 200 + 1;
}

// A relative path has no volume while the working directory has no name to join it to.
void tst_CFSVolumeInformationLinux::unnamedWorkingDirectory()
{
    QFETCH(int, depth);
    const QByteArray name(200, 'd');
    int made = 0;
    const auto cleanUp = qScopeGuard([&] {
        for (; made > 0; --made) {
            if (::chdir("..") != 0 || ::rmdir(name.constData()) != 0)
                qWarning("could not remove the deep folders");
        }
        QDir::setCurrent(dir);
    });
    QVERIFY(QDir::setCurrent(dir));
    if (depth == 0) {
        QVERIFY(QDir().mkdir(QStringLiteral("gone")));
        QVERIFY(QDir::setCurrent(QStringLiteral("gone")));
        QVERIFY(QDir(dir).rmdir(QStringLiteral("gone")));
    }
    for (; made < depth; ++made)
        QVERIFY(::mkdir(name.constData(), 0700) == 0 && ::chdir(name.constData()) == 0);
    QVERIFY(QDir::currentPath().isEmpty());

    const QString path = QStringLiteral("dir/x.txt");
    const QString anyError = QStringLiteral("[1-9]\\d*");
    expectNoRoot(path, anyError);
    QCOMPARE(Volume::rootPathByPath(path), QString());
    expectNoVolume(path, anyError);
    const CFSVolumeInformation info(path);
    QCOMPARE(info.fileSystemName, QString());
    QCOMPARE(info.totalBytes, quint64(0));
    QCOMPARE(info.driveType, DRIVE_NO_ROOT_DIR);
    // No path asks for the working directory itself.
    expectNoRoot(QString(), anyError);
    QCOMPARE(Volume::getDriveTypeByPath(QString()), DRIVE_NO_ROOT_DIR);
}

void tst_CFSVolumeInformationLinux::concurrentQueries()
{
    // A table read from a file is read again at every query, so the workers keep replacing
    // the reading the others use.
    QVERIFY(CTestTree::make(dir, "ram/dir/;share/"));
    writeTable(fakeTable);
    Volume::setMountInfoPath(tableFile());
    const QString t = base();
    const QList<QPair<QString, QString>> cases = {{t + "/ram/dir/x", t + "/ram/"},
                                                  {"//server/share/y", t + "/share/"},
                                                  {t + "/elsewhere", QStringLiteral("/")}};
    // Each asks for the cases in turn, starting at the one its number names, and counts the
    // answers that differ from the expected roots.
    std::atomic<int> wrongAnswers{0};
    QVERIFY(runOnThreads(4, [&cases, &wrongAnswers](int first) {
        for (int round = 0; round < 100; ++round) {
            const auto& [path, root] = cases.at((round + first) % cases.size());
            if (Volume::rootPathByPath(path) != root || CFSVolumeInformation(path).totalBytes == 0)
                ++wrongAnswers;
        }
    }));
    QCOMPARE(wrongAnswers.load(), 0);
}

void tst_CFSVolumeInformationLinux::liveTable()
{
    // This machine's own mounts, checked against findmnt and stat.
    const QString folder = environment->makeDir(QStringLiteral("live/dir"));
    const Reference reference = referenceFor(folder);
    if (reference.target.isEmpty())
        QSKIP("findmnt and stat give no reference here");
    QCOMPARE(Volume::rootPathByPath(folder + "not/yet.txt"),
             reference.target == "/" ? reference.target : reference.target + "/");
    const CFSVolumeInformation info(folder);
    QCOMPARE(info.fileSystemName, reference.type);
    QCOMPARE(info.totalBytes, reference.totalBytes);
    QVERIFY2(fsidHolds(reference.fsid, info.serialNumber), qPrintable(reference.fsid));
    QVERIFY(info.freeBytesAvailable <= info.totalFreeBytes);
    QVERIFY(info.driveType != DRIVE_NO_ROOT_DIR);
    QMap<QString, QString> drives;
    QVERIFY(Volume::getLogicalDriveStrings(drives));
    // In a chroot the root folder need not be a mount point of its own.
    QVERIFY(drives.contains(reference.target));
}

void tst_CFSVolumeInformationLinux::tmpfsAndBindMounts()
{
    SY_IN_MOUNT_NAMESPACE();
    const QString d = base();
    QVERIFY(CTestTree::make(d + '/', "ram/;ro/;share/"));
    if (!CTestChild::mount({"-t", "tmpfs", "-o", "size=4m", "sy-ram", d + "/ram"}))
        QSKIP("tmpfs cannot be mounted here");
    QVERIFY(CTestTree::make(d + '/', "ram/dir/f.txt=*65536"));

    for (const QString& path : {d + "/ram/dir/f.txt", d + "/ram/dir", d + "/ram/dir/new/x.txt"})
        QCOMPARE(Volume::rootPathByPath(path), d + "/ram/");
    const CFSVolumeInformation ram(d + "/ram/dir/f.txt");
    QCOMPARE(ram.volumeName, QString());
    QCOMPARE(ram.fileSystemName, QString("tmpfs"));
    QCOMPARE(ram.fileSystemFlags, quint32(FS_CASE_SENSITIVE_SEARCH | FS_CASE_PRESERVED_NAMES));
    QCOMPARE(ram.totalBytes, quint64(4 << 20));
    QCOMPARE(ram.freeBytesAvailable, ram.totalFreeBytes);
    QVERIFY(ram.totalFreeBytes < ram.totalBytes);
    QCOMPARE(ram.driveType, DRIVE_RAMDISK);
    QVERIFY(fsidHolds(referenceFor(d + "/ram").fsid, ram.serialNumber));

    // A read-only bind mount of a folder of it.
    QVERIFY(CTestChild::mount({"--bind", d + "/ram/dir", d + "/ro"}));
    QVERIFY(CTestChild::mount({"-o", "remount,bind,ro", d + "/ro"}));
    const CFSVolumeInformation readOnly(d + "/ro/f.txt");
    QCOMPARE(Volume::rootPathByPath(d + "/ro/f.txt"), d + "/ro/");
    QCOMPARE(readOnly.fileSystemName, QString("tmpfs"));
    QCOMPARE(readOnly.fileSystemFlags,
             quint32(FS_READ_ONLY_VOLUME | FS_CASE_SENSITIVE_SEARCH | FS_CASE_PRESERVED_NAMES));
    QCOMPARE(readOnly.serialNumber, ram.serialNumber);
    QCOMPARE(Volume::getDriveTypeByPath(d + "/ro"), DRIVE_RAMDISK);

    // Mounted on top of the first: answered by the top one, and by the first again once the
    // top one is gone. No refresh is asked for: the table follows the kernel's changes.
    QVERIFY(CTestChild::mount({"-t", "tmpfs", "-o", "size=2m", "sy-top", d + "/ram"}));
    QCOMPARE(diskTotal(d + "/ram/x"), qint64(2 << 20));
    QVERIFY(run("umount", {d + "/ram"}).isEmpty());
    QCOMPARE(diskTotal(d + "/ram/x"), qint64(4 << 20));

    // A share's name as the source of a local file system makes no share of it: the path is
    // the local one Linux reads. Gone, the table keeps it.
    QVERIFY(CTestChild::mount({"-t", "tmpfs", "//server/share", d + "/share"}));
    QCOMPARE(Volume::rootPathByPath("//server/share/dir/x.txt"),
             Volume::rootPathByPath("/server/share/dir/x.txt"));
    QVERIFY(run("umount", {d + "/share"}).isEmpty());
    QMap<QString, QString> drives;
    QVERIFY(Volume::getLogicalDriveStrings(drives));
    QCOMPARE(drives.value(d + "/share"), QString("//server/share"));
    QCOMPARE(drives.value(d + "/ram"), QString("sy-ram"));
}

void tst_CFSVolumeInformationLinux::ext4Image()
{
    SY_IN_MOUNT_NAMESPACE();
    const QString d = base();
    QVERIFY(QDir().mkpath(d + "/ext"));
    const QString image = d + "/image";
    QVERIFY(CTestTree::write(image, {}) && QFile::resize(image, 16 << 20));
    bool made = false;
    const QString output = run("mkfs.ext4", {"-q", "-F", "-L", "Données", image}, &made);
    if (!made)
        QSKIP(qPrintable("mkfs.ext4 failed: " + output));
    if (!CTestChild::mount({"-o", "loop", image, d + "/ext"}))
        QSKIP("no loop device to mount an image on");
    QVERIFY(CTestTree::make(d + '/', "ext/dir/;toExt->%Rext/dir"));

    const Reference reference = referenceFor(d + "/ext");
    QCOMPARE(Volume::rootPathByPath(d + "/toExt/new.txt"), d + "/ext/");
    const CFSVolumeInformation ext(d + "/toExt/new.txt");
    QCOMPARE(ext.volumeName, QString("Données"));
    QCOMPARE(ext.fileSystemName, QString("ext4"));
    QCOMPARE(ext.totalBytes, reference.totalBytes);
    // Blocks kept for root: the caller as root may use them, others may not.
    QVERIFY(ext.freeBytesAvailable <= ext.totalFreeBytes);
    QVERIFY(ext.totalFreeBytes < ext.totalBytes);
    QVERIFY2(fsidHolds(reference.fsid, ext.serialNumber), qPrintable(reference.fsid));
    // A loop device is a fixed disk.
    QCOMPARE(ext.driveType, DRIVE_FIXED);
}

// Four threads ask while a ramfs is mounted on a tmpfs and lazily unmounted again and again:
// every answer is the type and size of one of them.
void tst_CFSVolumeInformationLinux::mountRace()
{
    SY_IN_MOUNT_NAMESPACE();
    const QString d = base();
    const QString point = d + "/race";
    QVERIFY(QDir().mkpath(point));
    if (!CTestChild::mount({"-t", "tmpfs", "-o", "size=2m", "sy-base", point}))
        QSKIP("tmpfs cannot be mounted here");
    const QByteArray nativePoint = QFile::encodeName(point);
    std::atomic<bool> stop{false};
    std::atomic<int> cycles{0};
    std::unique_ptr<QThread> mounter(QThread::create([&] {
        while (!stop && ::mount("sy-top", nativePoint.constData(), "ramfs", 0, nullptr) == 0 &&
               ::umount2(nativePoint.constData(), MNT_DETACH) == 0)
            ++cycles;
    }));
    std::atomic<int> answers{0};
    std::atomic<int> mixed{0};
    QElapsedTimer timer;
    timer.start();
    mounter->start();
    const bool asked = runOnThreads(
        4,
        [&](int) {
            while (timer.elapsed() < 2000) {
                const CFSVolumeInformation info(point + "/x");
                const bool base = info.fileSystemName == "tmpfs" && info.totalBytes == 2u << 20;
                const bool top = info.fileSystemName == "ramfs" && info.totalBytes == 0;
                if (!base && !top) {
                    ++mixed;
                    qWarning("%s of %llu bytes", qPrintable(info.fileSystemName),
                             static_cast<unsigned long long>(info.totalBytes));
                }
                ++answers;
            }
        },
        30000);
    stop = true;
    QVERIFY(mounter->wait(30000));
    QVERIFY(asked);
    QVERIFY2(cycles > 10, qPrintable(QString::number(cycles)));
    qInfo("%d answers, %d mount cycles", int(answers), int(cycles));
    QCOMPARE(mixed.load(), 0);
}

void tst_CFSVolumeInformationLinux::hangingServer()
{
    SY_IN_MOUNT_NAMESPACE();
    const QString d = base();
    QVERIFY(QDir().mkpath(d + "/remote"));
    // A FUSE mount whose server never answers: every request on it waits.
    const int server = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (server < 0)
        QSKIP("no /dev/fuse here");
    const QByteArray options =
        "fd=" + QByteArray::number(server) + ",rootmode=40000,user_id=0,group_id=0";
    if (::mount("user@host:/data", QFile::encodeName(d + "/remote").constData(), "fuse.sshfs",
                MS_NOSUID | MS_NODEV, options.constData()) != 0) {
        ::close(server);
        QSKIP("FUSE cannot be mounted here");
    }
    // One query waits one bound in all, however many calls it makes.
    Volume::setRemoteTimeout(800);
    const QString path = d + "/remote/file.txt";
    const int threadsBefore = threadCount();
    // The quickest of three queries, so that a busy machine's late wake-up is not taken for
    // a second wait.
    qint64 quickest = std::numeric_limits<qint64>::max();
    for (int query = 0; query < 3; ++query) {
        expectNoVolume(path, QString::number(ETIMEDOUT));
        QElapsedTimer timer;
        timer.start();
        const CFSVolumeInformation info(path);
        quickest = std::min(quickest, timer.elapsed());
        QCOMPARE(info.totalBytes, quint64(0));
        // A path under a network mount is remote even when its server does not answer.
        QCOMPARE(info.driveType, DRIVE_REMOTE);
    }
    QVERIFY2(quickest <= 880, qPrintable(QString::number(quickest)));

    // A caller that keeps asking does not make the blocked threads grow.
    Volume::setRemoteTimeout(300);
    for (int poll = 0; poll < 8; ++poll) {
        expectNoRootFor("getDiskFreeSpaceByPath", path, QString::number(ETIMEDOUT));
        QCOMPARE(diskTotal(path), qint64(-1));
        QCOMPARE(Volume::getDriveTypeByPath(path), DRIVE_REMOTE);
    }
    const int added = threadCount() - threadsBefore;
    qInfo("threads added by the queries: %d", added);
    QVERIFY2(added <= 4, qPrintable(QString::number(added)));
    // The network path still finds its mount, which the bounded query then gives up on.
    const QString timedOut = " for " + d + "/remote/ - ErrorCode: " + QString::number(ETIMEDOUT);
    expectRecord("getVolumeInformationByPath", "Error retrieving volume information" + timedOut);
    QString name, type;
    quint32 serial = 0, length = 0, flags = 0;
    QVERIFY(!Volume::getVolumeInformationByPath("user@host:/data/f", name, type, serial, length,
                                                flags));
    expectRecord("getDiskFreeSpaceByPath", "Error retrieving disk free space" + timedOut);
    QCOMPARE(diskTotal("user@host:/data/f"), qint64(-1));
    QCOMPARE(Volume::getDriveTypeByPath("user@host:/data/f"), DRIVE_REMOTE);
    // Other mounts still answer.
    QCOMPARE(Volume::rootPathByPath(d + "/x"), Volume::rootPathByPath(d + "/y"));
    // Closing the server's end aborts the waiting requests; the mount stays, and remote.
    QCOMPARE(::close(server), 0);
    QCOMPARE(Volume::getDriveTypeByPath(path), DRIVE_REMOTE);
    QCOMPARE(::umount2(QFile::encodeName(d + "/remote").constData(), MNT_DETACH), 0);
}

QTEST_GUILESS_MAIN(tst_CFSVolumeInformationLinux)
#include "tst_CFSVolumeInformationLinux.moc"
