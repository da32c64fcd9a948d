#include "system/linux/CFSVolumeInformationLinux.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "system/CFSVolumeInformation.h"
#include "threading/threads/CBasicThread.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// Set in the child that runs one test function inside a private mount namespace: the folder
// it mounts under.
const char namespaceVariable[] = "SY_VOLUME_NAMESPACE";

using Volume = CFSVolumeInformationLinux;

void expectRecord(QtMsgType type, const char* function, const QString& text)
{
    CExpect::record(type, QStringLiteral("CFSVolumeInformationLinux.cpp"),
                    "CFSVolumeInformationLinux::" + QLatin1String(function), text);
}

void expectNoRoot(const QString& path, int error)
{
    expectRecord(QtCriticalMsg, "rootPathByPath",
                 "Error retrieving volume path name for " + path +
                     " - ErrorCode: " + QString::number(error));
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
    QString source;
    quint64 totalBytes = 0;
    QString fsid;
};

Reference referenceFor(const QString& path)
{
    Reference reference;
    const QStringList mount =
        run(QStringLiteral("findmnt"),
            {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("-o"),
             QStringLiteral("TARGET,FSTYPE"), QStringLiteral("--target"), path})
            .split(QLatin1Char(' '));
    if (mount.size() == 2) {
        reference.target = mount.at(0);
        reference.type = mount.at(1);
    }
    const QStringList figures =
        run(QStringLiteral("stat"),
            {QStringLiteral("-f"), QStringLiteral("-c"), QStringLiteral("%b %S %i"), path})
            .split(QLatin1Char(' '));
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

// Asks for the volumes of cases, starting at the one its number names, and counts the answers
// that differ from the expected roots.
class QueryWorker : public CBasicThread
{
public:
    QueryWorker(const QList<QPair<QString, QString>>& cases, int first)
        : CBasicThread(std::string("volume queries")), cases(cases), first(first)
    {}

    int wrongAnswers = 0;

protected:
    int runMethod() override
    {
        for (int round = 0; round < 100; ++round) {
            const auto& [path, root] = cases.at((round + first) % cases.size());
            const CFSVolumeInformation info(path);
            if (Volume::rootPathByPath(path) != root || info.totalBytes == 0)
                ++wrongAnswers;
        }
        return 0;
    }

private:
    const QList<QPair<QString, QString>> cases;
    const int first;
};

} // namespace

class tst_CFSVolumeInformationLinux : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void driveTable();
    void networkPaths_data();
    void networkPaths();
    void localPaths_data();
    void localPaths();
    void failures();
    void concurrentQueries();
    void liveTable();
    void tmpfsAndBindMounts();
    void ext4Image();
    void hangingServer();

private:
    // The fake mount table below the test folder; see writeTable().
    QString tableFile() const { return environment->root() + QStringLiteral("mountinfo"); }
    void writeTable(const QStringList& lines) const;
    QString base() const;
    // Runs the current test function again as root in a private mount namespace; true in that
    // child, which then does the mounting and checking.
    bool inNamespace();
    bool mount(const QStringList& arguments);

    std::unique_ptr<CTestEnvironment> environment;
};

void tst_CFSVolumeInformationLinux::init()
{
    environment.reset();
    environment = std::make_unique<CTestEnvironment>();
    QVERIFY(environment->isValid());
    Volume::setMountInfoPath(QString());
}

void tst_CFSVolumeInformationLinux::cleanup()
{
    Volume::setMountInfoPath(QString());
    Volume::setRemoteTimeout(5000);
}

QString tst_CFSVolumeInformationLinux::base() const
{
    return QDir(environment->root()).canonicalPath();
}

void tst_CFSVolumeInformationLinux::writeTable(const QStringList& lines) const
{
    QFile file(tableFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QString text = lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    text.replace(QLatin1String("$T"), base());
    QVERIFY(file.write(text.toUtf8()) > 0);
}

// Folders stand for mounts; the table says what is mounted where. Mount 6 sits on top of 2,
// and 8 hides 7 by covering the folder it is mounted in.
static const QStringList fakeTable = {
    QStringLiteral("1 0 0:99 / / rw - ext4 /dev/sy-fake rw"),
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
    QMap<QString, QString> expected = {{QStringLiteral("/"), QStringLiteral("/dev/sy-fake")},
                                       {t + "/ram", QStringLiteral("stacked")},
                                       {t + "/share", QStringLiteral("//server/share")},
                                       {t + "/nfs", QStringLiteral("nas:/export")},
                                       {t + "/two words", QStringLiteral("tmp fs")},
                                       {t + "/a", QStringLiteral("cover")}};
    expectRecord(QtCriticalMsg, "refreshLogicalDriveStrings",
                 QStringLiteral("Error querying dos device name: not a mount line"));
    CExpect::recordMatching(QtDebugMsg, QStringLiteral("CFSVolumeInformationLinux.cpp"),
                            QStringLiteral("CFSVolumeInformationLinux::refreshLogicalDriveStrings"),
                            QStringLiteral("logical drives refreshed: QMap\\(.*\\)"));
    QMap<QString, QString> drives = {{QStringLiteral("stale"), QStringLiteral("entry")}};
    QVERIFY(Volume::getLogicalDriveStrings(drives));
    QCOMPARE(drives, expected);

    // The share is gone, a mount is new and the export point now holds another source: the
    // table keeps what it had and adds the new one.
    QStringList changed = fakeTable;
    changed.removeAt(2);
    changed[2] = QStringLiteral("4 1 0:52 / $T/nfs rw - nfs4 nas:/other rw");
    changed.append(QStringLiteral("9 1 0:57 / $T/new rw - tmpfs fresh rw"));
    writeTable(changed);
    expected.insert(t + "/new", QStringLiteral("fresh"));
    QVERIFY(Volume::getLogicalDriveStrings(drives));
    QCOMPARE(drives, expected);

    // A table that cannot be read fails the refresh and leaves the caller's map empty.
    QVERIFY(QFile::remove(tableFile()));
    expectRecord(QtCriticalMsg, "refreshLogicalDriveStrings",
                 QStringLiteral("Error retrieving logical drive strings: 2"));
    QVERIFY(!Volume::getLogicalDriveStrings(drives));
    QVERIFY(drives.isEmpty());
}

void tst_CFSVolumeInformationLinux::networkPaths_data()
{
    QTest::addColumn<QString>("path");
    // Below the test folder; null when no mount holds the path.
    QTest::addColumn<QString>("root");
    QTest::newRow("file on a share") << "//server/share/dir/file.txt"
                                     << "/share/";
    QTest::newRow("share itself") << "//server/share"
                                  << "/share/";
    QTest::newRow("server and share in other case") << "//SERVER/Share/x"
                                                    << "/share/";
    QTest::newRow("export subfolder") << "nas:/export/sub/f.log"
                                      << "/nfs/";
    QTest::newRow("server in other case") << "NAS:/export/f"
                                          << "/nfs/";
    QTest::newRow("export path in other case") << "nas:/Export/f" << QString();
    QTest::newRow("longer share name") << "//server/shared/x" << QString();
    QTest::newRow("share not mounted") << "//other/share/x" << QString();
    QTest::newRow("server only") << "//server" << QString();
}

void tst_CFSVolumeInformationLinux::networkPaths()
{
    QFETCH(QString, path);
    QFETCH(QString, root);
    writeTable(fakeTable);
    environment->makeDir(QStringLiteral("share/dir"));
    environment->makeDir(QStringLiteral("nfs"));
    Volume::setMountInfoPath(tableFile());
    if (root.isNull()) {
        expectNoRoot(path, ENOENT);
        QCOMPARE(Volume::rootPathByPath(path), QString());
        expectNoRoot(path, ENOENT);
        QCOMPARE(Volume::getDriveTypeByPath(path), DRIVE_NO_ROOT_DIR);
        expectNoRoot(path, ENOENT);
        expectRecord(QtCriticalMsg, "getDiskFreeSpaceByPath",
                     "failed to retrieve root path from " + path);
        quint64 available = 1;
        quint64 total = 2;
        quint64 free = 3;
        QVERIFY(!Volume::getDiskFreeSpaceByPath(path, available, total, free));
        QCOMPARE(available + total + free, quint64(6));
        return;
    }
    QCOMPARE(Volume::rootPathByPath(path), base() + root);
    QCOMPARE(Volume::getDriveTypeByPath(path), DRIVE_REMOTE);
    const CFSVolumeInformation info(path);
    QCOMPARE(info.path, path);
    QCOMPARE(info.fileSystemName, root == "/share/" ? QString("cifs") : QString("nfs4"));
    QCOMPARE(info.volumeName, QString());
    // SMB ignores case; NFS keeps it.
    QCOMPARE(info.fileSystemFlags & FS_CASE_SENSITIVE_SEARCH,
             root == "/share/" ? 0u : quint32(FS_CASE_SENSITIVE_SEARCH));
    QVERIFY(info.totalBytes > 0);
    QCOMPARE(info.driveType, DRIVE_REMOTE);
}

void tst_CFSVolumeInformationLinux::localPaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("kind");
    QTest::newRow("file") << "/ram/f.txt"
                          << "/ram/"
                          << "ramfs" << int(DRIVE_RAMDISK);
    QTest::newRow("folder") << "/two words/dir/"
                            << "/two words/"
                            << "tmpfs" << int(DRIVE_RAMDISK);
    QTest::newRow("mount point") << "/two words"
                                 << "/two words/"
                                 << "tmpfs" << int(DRIVE_RAMDISK);
    QTest::newRow("not created yet") << "/ram/not/yet/там.txt"
                                     << "/ram/"
                                     << "ramfs" << int(DRIVE_RAMDISK);
    QTest::newRow("link into another mount") << "/link/new.txt"
                                             << "/share/"
                                             << "cifs" << int(DRIVE_REMOTE);
    QTest::newRow("dangling link") << "/dangling"
                                   << "/nfs/"
                                   << "nfs4" << int(DRIVE_REMOTE);
    QTest::newRow("parent through a link") << "/ram/../link/x"
                                           << "/share/"
                                           << "cifs" << int(DRIVE_REMOTE);
    QTest::newRow("hidden mount") << "/a/b/x"
                                  << "/a/"
                                  << "tmpfs" << int(DRIVE_RAMDISK);
    QTest::newRow("under a file") << "/plain/file/x"
                                  << ""
                                  << "ext4" << int(DRIVE_UNKNOWN);
}

void tst_CFSVolumeInformationLinux::localPaths()
{
    QFETCH(QString, path);
    QFETCH(QString, root);
    QFETCH(QString, type);
    QFETCH(int, kind);
    writeTable(fakeTable);
    environment->writeFile(QStringLiteral("ram/f.txt"), "x");
    environment->makeDir(QStringLiteral("two words/dir"));
    environment->makeDir(QStringLiteral("share/sub"));
    environment->makeDir(QStringLiteral("nfs"));
    environment->makeDir(QStringLiteral("a/b"));
    environment->writeFile(QStringLiteral("plain/file"), "x");
    QVERIFY(QFile::link(environment->root() + "share/sub", environment->root() + "link"));
    QVERIFY(QFile::link(environment->root() + "nfs/missing.txt", environment->root() + "dangling"));
    Volume::setMountInfoPath(tableFile());

    const QString expectedRoot = root.isEmpty() ? QStringLiteral("/") : base() + root;
    QCOMPARE(Volume::rootPathByPath(environment->root() + path.mid(1)), expectedRoot);
    const CFSVolumeInformation info(environment->root() + path.mid(1));
    QCOMPARE(info.fileSystemName, type);
    QCOMPARE(info.driveType, FSDriveType(kind));
    QCOMPARE(info.maxComponentLength, 255u);
    QVERIFY(info.totalBytes >= info.totalFreeBytes);
}

void tst_CFSVolumeInformationLinux::failures()
{
    // No path at all: no root, and nothing filled in.
    expectNoRoot(QString(), ENOENT);
    QCOMPARE(Volume::rootPathByPath(QString()), QString());
    expectNoRoot(QString(), ENOENT);
    expectNoRoot(QString(), ENOENT);
    expectRecord(QtCriticalMsg, "getVolumeInformationByPath",
                 QStringLiteral("failed to retrieve root path from "));
    expectNoRoot(QString(), ENOENT);
    expectRecord(QtCriticalMsg, "getDiskFreeSpaceByPath",
                 QStringLiteral("failed to retrieve root path from "));
    const CFSVolumeInformation nothing{QString()};
    QCOMPARE(nothing.fileSystemName, QString());
    QCOMPARE(nothing.serialNumber, 0u);
    QCOMPARE(nothing.totalBytes, quint64(0));
    // The drive type of no path is the working directory's.
    QVERIFY(nothing.driveType != DRIVE_NO_ROOT_DIR);

    // Links that lead in a circle have no existing parent.
    const QString loop = environment->root() + "loop";
    QVERIFY(QFile::link(environment->root() + "loop2", loop));
    QVERIFY(QFile::link(loop, environment->root() + "loop2"));
    expectNoRoot(loop + "/x", ELOOP);
    QCOMPARE(Volume::getDriveTypeByPath(loop + "/x"), DRIVE_NO_ROOT_DIR);
    expectNoRoot(loop, ELOOP);
    QCOMPARE(Volume::rootPathByPath(loop), QString());
}

void tst_CFSVolumeInformationLinux::concurrentQueries()
{
    // A table read from a file is read again at every query, so the workers keep replacing
    // the reading the others use.
    writeTable(fakeTable);
    environment->makeDir(QStringLiteral("ram/dir"));
    environment->makeDir(QStringLiteral("share"));
    Volume::setMountInfoPath(tableFile());
    const QString t = base();
    const QList<QPair<QString, QString>> cases = {{t + "/ram/dir/x", t + "/ram/"},
                                                  {"//server/share/y", t + "/share/"},
                                                  {t + "/elsewhere", QStringLiteral("/")}};
    std::vector<std::unique_ptr<QueryWorker>> workers;
    for (int i = 0; i < 4; ++i) {
        workers.push_back(std::make_unique<QueryWorker>(cases, i));
        QVERIFY(workers.back()->startThread());
    }
    for (const auto& worker : workers) {
        QVERIFY(worker->wait(60000));
        QCOMPARE(worker->wrongAnswers, 0);
    }
}

void tst_CFSVolumeInformationLinux::liveTable()
{
    // This machine's own mounts, checked against findmnt and stat.
    const QString folder = environment->makeDir(QStringLiteral("live/dir"));
    const Reference reference = referenceFor(folder);
    if (reference.target.isEmpty())
        QSKIP("findmnt and stat give no reference here");
    const QString root = Volume::rootPathByPath(folder + "not/yet.txt");
    QCOMPARE(root, reference.target == "/" ? reference.target : reference.target + "/");
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

bool tst_CFSVolumeInformationLinux::inNamespace()
{
    if (qEnvironmentVariableIsSet(namespaceVariable))
        return true;
    if (::geteuid() != 0) {
        QTest::qSkip("mounting needs root", __FILE__, __LINE__);
        return false;
    }
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QLatin1String(namespaceVariable), environment->root());
    child.setProcessEnvironment(variables);
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("-m"), QStringLiteral("--propagation"), QStringLiteral("private"),
                 QCoreApplication::applicationFilePath(),
                 QLatin1String(QTest::currentTestFunction())});
    if (!child.waitForStarted()) {
        QTest::qSkip("unshare is missing", __FILE__, __LINE__);
        return false;
    }
    if (!child.waitForFinished(120000)) {
        child.kill();
        QTest::qFail("the child in its mount namespace did not finish", __FILE__, __LINE__);
        return false;
    }
    const QString output = QString::fromLocal8Bit(child.readAll());
    // In a chroot, or where the root is no mount point, unshare cannot make the mounts private.
    if (output.contains(QLatin1String("unshare failed")) ||
        output.startsWith(QLatin1String("unshare: "))) {
        QTest::qSkip("no private mount namespace here", __FILE__, __LINE__);
        return false;
    }
    const qsizetype skipped = output.indexOf(QLatin1String("SKIP   :"));
    if (skipped >= 0) {
        QTest::qSkip(qPrintable(output.mid(skipped, output.indexOf('\n', skipped) - skipped)),
                     __FILE__, __LINE__);
        return false;
    }
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        QTest::qFail(qPrintable(output), __FILE__, __LINE__);
    return false;
}

bool tst_CFSVolumeInformationLinux::mount(const QStringList& arguments)
{
    bool ok = false;
    const QString output = run(QStringLiteral("mount"), arguments, &ok);
    if (!ok)
        qWarning("mount %s: %s", qPrintable(arguments.join(' ')), qPrintable(output));
    return ok;
}

void tst_CFSVolumeInformationLinux::tmpfsAndBindMounts()
{
    if (!inNamespace())
        return;
    const QString d = QDir(qEnvironmentVariable(namespaceVariable)).canonicalPath();
    QVERIFY(QDir().mkpath(d + "/ram"));
    QVERIFY(QDir().mkpath(d + "/ro"));
    QVERIFY(QDir().mkpath(d + "/share"));
    if (!mount({"-t", "tmpfs", "-o", "size=4m", "sy-ram", d + "/ram"}))
        QSKIP("tmpfs cannot be mounted here");
    QVERIFY(QDir().mkpath(d + "/ram/dir"));
    QFile file(d + "/ram/dir/f.txt");
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(QByteArray(64 << 10, 'x')), qint64(64 << 10));
    file.close();

    for (const QString& path : {d + "/ram/dir/f.txt", d + "/ram/dir", d + "/ram/dir/new/x.txt"})
        QCOMPARE(Volume::rootPathByPath(path), d + "/ram/");
    const CFSVolumeInformation ram(d + "/ram/dir/f.txt");
    QCOMPARE(ram.path, d + "/ram/dir/f.txt");
    QCOMPARE(ram.volumeName, QString());
    QCOMPARE(ram.fileSystemName, QString("tmpfs"));
    QCOMPARE(ram.maxComponentLength, 255u);
    QCOMPARE(ram.fileSystemFlags, quint32(FS_CASE_SENSITIVE_SEARCH | FS_CASE_PRESERVED_NAMES));
    QCOMPARE(ram.totalBytes, quint64(4 << 20));
    QCOMPARE(ram.freeBytesAvailable, ram.totalFreeBytes);
    QVERIFY(ram.totalFreeBytes < ram.totalBytes);
    QCOMPARE(ram.driveType, DRIVE_RAMDISK);
    QVERIFY(fsidHolds(referenceFor(d + "/ram").fsid, ram.serialNumber));

    // A read-only bind mount of a folder of it.
    QVERIFY(mount({"--bind", d + "/ram/dir", d + "/ro"}));
    QVERIFY(mount({"-o", "remount,bind,ro", d + "/ro"}));
    const CFSVolumeInformation readOnly(d + "/ro/f.txt");
    QCOMPARE(Volume::rootPathByPath(d + "/ro/f.txt"), d + "/ro/");
    QCOMPARE(readOnly.fileSystemName, QString("tmpfs"));
    QCOMPARE(readOnly.fileSystemFlags,
             quint32(FS_READ_ONLY_VOLUME | FS_CASE_SENSITIVE_SEARCH | FS_CASE_PRESERVED_NAMES));
    QCOMPARE(readOnly.totalBytes, quint64(4 << 20));
    QCOMPARE(readOnly.serialNumber, ram.serialNumber);
    QCOMPARE(Volume::getDriveTypeByPath(d + "/ro"), DRIVE_RAMDISK);

    // Mounted on top of the first: answered by the top one, and by the first again once the
    // top one is gone. No refresh is asked for: the table follows the kernel's changes.
    QVERIFY(mount({"-t", "tmpfs", "-o", "size=2m", "sy-top", d + "/ram"}));
    quint64 available = 0;
    quint64 total = 0;
    quint64 free = 0;
    QVERIFY(Volume::getDiskFreeSpaceByPath(d + "/ram/x", available, total, free));
    QCOMPARE(total, quint64(2 << 20));
    QVERIFY(run("umount", {d + "/ram"}).isEmpty());
    QVERIFY(Volume::getDiskFreeSpaceByPath(d + "/ram/x", available, total, free));
    QCOMPARE(total, quint64(4 << 20));

    // A share's name as the source: network paths reach it; gone, the table keeps it.
    QVERIFY(mount({"-t", "tmpfs", "//server/share", d + "/share"}));
    QCOMPARE(Volume::rootPathByPath("//server/share/dir/x.txt"), d + "/share/");
    QVERIFY(run("umount", {d + "/share"}).isEmpty());
    expectNoRoot("//server/share/dir/x.txt", ENOENT);
    QCOMPARE(Volume::rootPathByPath("//server/share/dir/x.txt"), QString());
    QMap<QString, QString> drives;
    QVERIFY(Volume::getLogicalDriveStrings(drives));
    QCOMPARE(drives.value(d + "/share"), QString("//server/share"));
    QCOMPARE(drives.value(d + "/ram"), QString("sy-ram"));
}

void tst_CFSVolumeInformationLinux::ext4Image()
{
    if (!inNamespace())
        return;
    const QString d = QDir(qEnvironmentVariable(namespaceVariable)).canonicalPath();
    QVERIFY(QDir().mkpath(d + "/ext"));
    QFile image(d + "/image");
    QVERIFY(image.open(QIODevice::WriteOnly));
    QVERIFY(image.resize(16 << 20));
    image.close();
    bool made = false;
    const QString output =
        run(QStringLiteral("mkfs.ext4"), {"-q", "-F", "-L", "Données", image.fileName()}, &made);
    if (!made)
        QSKIP(qPrintable("mkfs.ext4 failed: " + output));
    if (!mount({"-o", "loop", image.fileName(), d + "/ext"}))
        QSKIP("no loop device to mount an image on");
    QVERIFY(QDir().mkpath(d + "/ext/dir"));
    QVERIFY(QFile::link(d + "/ext/dir", d + "/toExt"));

    const Reference reference = referenceFor(d + "/ext");
    QCOMPARE(Volume::rootPathByPath(d + "/toExt/new.txt"), d + "/ext/");
    const CFSVolumeInformation ext(d + "/toExt/new.txt");
    QCOMPARE(ext.volumeName, QString("Données"));
    QCOMPARE(ext.fileSystemName, QString("ext4"));
    QCOMPARE(ext.maxComponentLength, 255u);
    QCOMPARE(ext.fileSystemFlags, quint32(FS_CASE_SENSITIVE_SEARCH | FS_CASE_PRESERVED_NAMES));
    QCOMPARE(ext.totalBytes, reference.totalBytes);
    // Blocks kept for root: the caller as root may use them, others may not.
    QVERIFY(ext.freeBytesAvailable <= ext.totalFreeBytes);
    QVERIFY(ext.totalFreeBytes < ext.totalBytes);
    QVERIFY2(fsidHolds(reference.fsid, ext.serialNumber), qPrintable(reference.fsid));
    // A loop device is a fixed disk.
    QCOMPARE(ext.driveType, DRIVE_FIXED);
}

void tst_CFSVolumeInformationLinux::hangingServer()
{
    if (!inNamespace())
        return;
    const QString d = QDir(qEnvironmentVariable(namespaceVariable)).canonicalPath();
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
    Volume::setRemoteTimeout(300);
    const QString path = d + "/remote/file.txt";
    expectNoRoot(path, ETIMEDOUT);
    expectRecord(QtCriticalMsg, "getDiskFreeSpaceByPath",
                 "failed to retrieve root path from " + path);
    quint64 available = 0;
    quint64 total = 0;
    quint64 free = 0;
    QVERIFY(!Volume::getDiskFreeSpaceByPath(path, available, total, free));
    // The network path still finds its mount, which the bounded query then gives up on.
    expectRecord(QtCriticalMsg, "getVolumeInformationByPath",
                 "Error retrieving volume information for " + d +
                     "/remote/ - ErrorCode: " + QString::number(ETIMEDOUT));
    QString name;
    QString type;
    quint32 serial = 0;
    quint32 length = 0;
    quint32 flags = 0;
    QVERIFY(!Volume::getVolumeInformationByPath("user@host:/data/f", name, type, serial, length,
                                                flags));
    expectRecord(QtCriticalMsg, "getDiskFreeSpaceByPath",
                 "Error retrieving disk free space for " + d +
                     "/remote/ - ErrorCode: " + QString::number(ETIMEDOUT));
    QVERIFY(!Volume::getDiskFreeSpaceByPath("user@host:/data/f", available, total, free));
    QCOMPARE(Volume::getDriveTypeByPath("user@host:/data/f"), DRIVE_REMOTE);
    // Other mounts still answer.
    QCOMPARE(Volume::rootPathByPath(d + "/x"), Volume::rootPathByPath(d + "/y"));
    // Closing the server's end aborts the waiting requests.
    QCOMPARE(::close(server), 0);
    QCOMPARE(::umount2(QFile::encodeName(d + "/remote").constData(), MNT_DETACH), 0);
}

QTEST_GUILESS_MAIN(tst_CFSVolumeInformationLinux)
#include "tst_CFSVolumeInformationLinux.moc"
