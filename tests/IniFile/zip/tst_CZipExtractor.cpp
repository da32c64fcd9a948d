#include "IniFile/zip/CZipExtractor.h"

#include "IniFile/zip/CZipper.h"
#include "common/CExpect.h"
#include "common/CFaultInjection.h"
#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"
#include "common/CZipListing.h"
#include "common/CZipperSpies.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The content of the streamed archive's d/one.txt.
const QString firstFile = QString("first ").repeated(1000);

} // namespace

// Unpacking: CZipper::unzip over the extractor that checks every entry.
class tst_CZipExtractor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void unpacks_data();
    void unpacks();
    void failures_data();
    void failures();
    void killedOverExistingFiles();

private:
    QString archive(const QString& name) const { return env->root() + "archives/" + name + ".zip"; }

    std::unique_ptr<CTestEnvironment> env;
    QString outside;
    QString target;
    int targets = 0;
};

void tst_CZipExtractor::initTestCase()
{
    // Modes of unpacked entries are compared in the trees.
    ::umask(022);
    QVERIFY(CTestEnvironment::renew(env));
    // A child under the fault shim needs none of the test archives.
    if (CFaultInjection::isInjected())
        return;
    outside = env->makeDir("outside");
    env->writeFile("outside/victim.txt", "keep");
    const QString archives = env->makeDir("archives");
    env->makeDir("archives/folder.zip");
    const QString script =
        qEnvironmentVariable("SY_TEST_DATA") + "/IniFile/zip/data/make_test_zips.py";
    QCOMPARE(QProcess::execute("python3", {script, archives, outside + 'x'}), 0);
    // Info-ZIP, with a link stored as a link (-y), and without folder entries (-D).
    const QString source = env->makeDir("izip");
    QVERIFY(CTestTree::make(source,
                            "d/f.txt=seven b;d/.hidden=;d/Größe/ß.log=sz;d/current.log->f.txt"));
    QVERIFY(QDir::setCurrent(source));
    QCOMPARE(QProcess::execute("zip", {"-rqy", archives + "izip.zip", "d"}), 0);
    QCOMPARE(QProcess::execute("zip", {"-rqD", archives + "izip-D.zip", "d"}), 0);
}

void tst_CZipExtractor::init()
{
    // A folder that does not exist yet, two levels below the temporary root.
    target = env->root() + QStringLiteral("targets/t%1/").arg(++targets);
}

void tst_CZipExtractor::unpacks_data()
{
    QTest::addColumn<QString>("name");
    // What the target holds afterwards, as CTestTree describes it.
    QTest::addColumn<QString>("tree");
    const auto row = [](const char* tag, const char* name, const QString& tree) {
        QTest::newRow(tag) << QString(name) << tree;
    };
    const QString izip = "d/;d/.hidden=;d/Größe/;d/Größe/ß.log=sz;d/current.log=%1;d/f.txt=seven b";
    row("Info-ZIP; a stored link becomes a plain file", "izip", izip.arg("f.txt"));
    // Without -y, zip stores what the link points to.
    row("Info-ZIP without folder entries", "izip-D", izip.arg("seven b"));
    row("data descriptors", "streamed", "d/;d/one.txt=" + firstFile + ";two.txt=");
    row("UTF-8 names", "unicode", "Größe.log=umlaut;журнал/;журнал/日本語.txt=cjk");
    row("no entries", "empty", "");
    row("a newer version of a file", "duplicate", "d/;dup.txt=second");
    // An abort after the first entry stops the unpacking; the call still succeeds.
    row("aborted", "izip", "d/");
}

void tst_CZipExtractor::unpacks()
{
    QFETCH(QString, name);
    QFETCH(QString, tree);
    CZipper zipper;
    CZipperSpies spies(zipper, true);
    const bool aborting = QTest::currentDataTag() == QByteArray("aborted");
    if (aborting) {
        connect(&zipper, &CZipper::unzipProgress, &zipper, &CZipper::abort);
        CExpect::record(QtCriticalMsg, "CZipper.cpp", "CZipper::unzip", "aborting ...");
    }
    // The folder is missing, and named without a trailing slash.
    QVERIFY(zipper.unzip(archive(name), target.chopped(1)));
    QVERIFY(!zipper.isAborted());
    QCOMPARE(CTestTree::describe(target), tree);
    QCOMPARE(spies.started.size() + spies.finished.size(), 2);
    QCOMPARE(spies.error.size(), 0);
    // One report per entry: total, running count, the entry's bytes, the stream's empty name.
    const CZipListing listing(archive(name));
    // An entry with a newer version later on is not unpacked.
    QList<qint64> sizes = listing.sizes;
    for (int i = 0; i < sizes.size(); ++i)
        sizes[i] = listing.names.lastIndexOf(listing.names.at(i)) > i ? 0 : sizes.at(i);
    QCOMPARE(spies.progress.size(), aborting ? 1 : sizes.size());
    for (int i = 0; i < spies.progress.size(); ++i)
        QCOMPARE(spies.progress.at(i),
                 (QList<QVariant>{quint32(sizes.size()), quint32(i + 1), sizes.at(i), QString()}));
}

void tst_CZipExtractor::failures_data()
{
    QTest::addColumn<QString>("name");
    // A tree made in the target beforehand.
    QTest::addColumn<QString>("prepared");
    // The critical record; %1 stands for the target folder, %2 for the outside folder, %3 for
    // the archive, %n for a number. None: the archive cannot be opened, nothing is started and
    // no target is made.
    QTest::addColumn<QString>("record");
    // What the target holds afterwards, as CTestTree describes it; %2 as in the record.
    QTest::addColumn<QString>("tree");
    const auto row = [](const char* tag, const char* name, const QString& record,
                        const char* prepared = "", const QString& tree = {}) {
        QTest::newRow(tag) << QString(name) << QString(prepared) << record << tree;
    };
    row("missing archive", "missing", "");
    row("folder as the archive", "folder", "");
    const QString refusing = "refusing entry: ";
    row("parent component", "traversal",
        refusing + "../escaped.txt - its name holds a \"..\" component");
    row("absolute", "absolute", refusing + "%2x/absolute.txt - its name is absolute");
    row("backslash", "backslash", refusing + "..\\escaped.txt - its name holds a backslash");
    row("control character", "control",
        refusing + "bad\\x0aname.txt - its name holds a control character");
    row("through a stored link", "symlink-then-through",
        refusing + "link/through.txt - on disk, link is not a folder", "", "link=%2x");
    row("folder in the target linked outside", "streamed",
        refusing + "d/one.txt - on disk, d is a symbolic link", "d->%2", "d->%2");
    row("encrypted", "encrypted", refusing + "secret.txt - it is encrypted");
    row("bzip2", "bzip2", refusing + "packed.txt - its compression method 12 is not supported");
    // A file that was there already stays as it was.
    row("declares less than it holds", "declared-smaller", "error zipping file: %1lying.txt -105",
        "lying.txt=old", "lying.txt=old");
    row("CRC mismatch", "crc", "error zipping file: %1bad-crc.txt -105", "bad-crc.txt=old",
        "bad-crc.txt=old");
    row("overlapping data", "overlap", refusing + "f01.txt - its data overlaps another entry's");
    row("a file and a folder", "file-and-folder",
        refusing + "dup/ - it lands on the same path as entry 1, dup");
    row("a link and a file", "link-and-file",
        refusing + "link - it lands on the same path as entry 1, link");
    row("names that decode alike", "same-after-decoding",
        refusing + "\uFFFD.name - it lands on the same path as entry 1, \uFFFD.name");
    row("end record counts too many", "too-many-entries", "failed to create zip target: %1 -103");
    // The record names the output path and why it could not be created.
    const QString create = "failed to create target: %1";
    row("read-only target", "izip", create + "d - d: Permission denied");
    row("a folder where a file goes", "streamed", create + "two.txt - two.txt: Is a directory",
        "two.txt/", "d/;d/one.txt=" + firstFile + ";two.txt/");
    const QString longName = QString(300, 'n') + ".txt";
    row("name too long", "long-name",
        create + longName + " - " + longName + ": File name too long");
    // Refused before anything is written.
    row("entries declare more than the volume holds", "declares-huge",
        "not enough free space to unzip: %3 needs 1125899923619840 bytes, %1 has %n bytes free");
    // The entry fails like any write: no signal ends the process, and the partial file goes.
    row("file-size limit", "large", "failed to write: %1large.bin", "large.bin=old",
        "large.bin=old");
}

// Nothing is written outside the target, nor through a link that is already in it; what was
// unpacked before the failure stays, with one report for each file.
void tst_CZipExtractor::failures()
{
    QFETCH(QString, name);
    QFETCH(QString, prepared);
    QFETCH(QString, record);
    QFETCH(QString, tree);
    const QByteArray tag = QTest::currentDataTag();
    if (tag == "read-only target" && ::geteuid() == 0)
        QSKIP("root writes into read-only folders");
    const bool opened = !record.isEmpty();
    if (opened) {
        QVERIFY(QDir().mkpath(target) && CTestTree::make(target, prepared.replace("%2", outside)));
        record.replace("%1", target).replace("%2", outside).replace("%3", archive(name));
        CExpect::recordMatching(QtCriticalMsg, "CZipper.cpp", "CZipper::unzip",
                                QRegularExpression::escape(record).replace("\\%n", "\\d+"));
    }
    if (tag == "read-only target")
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    rlimit previous{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = 64 * 1024;
    CZipper zipper;
    CZipperSpies spies(zipper, true);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, tag == "file-size limit" ? &limited : &previous), 0);
    const bool result = zipper.unzip(archive(name), target);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &previous), 0);
    QVERIFY(!opened ||
            QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner));
    QVERIFY(!result);
    QCOMPARE(spies.error.size(), 1);
    QCOMPARE(spies.error.at(0).at(0).toUInt(), 0u);
    QCOMPARE(spies.started.size(), opened ? 1 : 0);
    QCOMPARE(QFileInfo::exists(target), opened);
    QCOMPARE(spies.finished.size(), 0);
    QCOMPARE(spies.progress.size(), tree.count(u'=') - prepared.count(u'='));
    QCOMPARE(CTestTree::describe(target), tree.replace("%2", outside));
    QCOMPARE(CTestTree::describe(outside), "victim.txt=keep");
    QVERIFY(!QFileInfo::exists(env->root() + "escaped.txt"));
}

// Killed at any point, unpacking over existing files leaves each one old or new, never empty,
// and the next unpacking into the folder leaves nothing of the killed one behind.
void tst_CZipExtractor::killedOverExistingFiles()
{
    if (CFaultInjection::isInjected()) {
        CZipper zipper;
        CFaultInjection::arm();
        // Beside the folder, out of the shim's reach.
        const QString fresh = QFileInfo(CFaultInjection::folder()).path() + "/new.zip";
        QVERIFY(zipper.unzip(fresh, CFaultInjection::folder()));
        return;
    }
    const QString fresh = env->makeDir("targets") + "new.zip";
    QVERIFY(CTestTree::make(env->root() + "new/", "a.txt=new a;d/b.txt=new b"));
    QVERIFY(CZipper().zip(env->root() + "new", fresh, false));
    CFaultPlan plan;
    plan.pathPrefix = target.chopped(1);
    CZipper zipper;
    const int points = CFaultInjection::killSweep(
        plan,
        [&] {
            QDir(target).removeRecursively();
            QVERIFY(CTestTree::make(target, "a.txt=old a;d/b.txt=old b"));
        },
        [&](int) {
            for (const QByteArray file : {"a", "d/b"}) {
                const QByteArray content = CTestTree::content(target + file + ".txt");
                QVERIFY2(content == "old " + file.right(1) || content == "new " + file.right(1),
                         content.constData());
            }
            QVERIFY(zipper.unzip(fresh, target));
            QCOMPARE(CTestTree::describe(target), "a.txt=new a;d/;d/b.txt=new b");
        });
    qInfo("unpacking over existing files: %d kill points", points);
}

QTEST_GUILESS_MAIN(tst_CZipExtractor)
#include "tst_CZipExtractor.moc"
