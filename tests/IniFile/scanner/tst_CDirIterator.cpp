#include "IniFile/scanner/CDirIterator.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"
#include "fsFilter/CFSFilter.h"

#include <QFile>
#include <QTest>

#include <algorithm>

namespace {

const QDir::Filters zipperEntries = QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::Hidden |
                                    QDir::System | QDir::NoDotAndDotDot;

void expectDebug(const QString& text)
{
    CExpect::record(QtDebugMsg, "CDirIterator.cpp", "CDirIterator::dirIterate", text);
}

QStringList names(const QList<QFileInfo>& infos, const QString& root)
{
    QStringList result;
    for (const QFileInfo& info : infos)
        result.append(info.filePath().mid(root.size()));
    result.sort();
    return result;
}

// Drops every directory, and every file too when asked; records what each query said.
class CTestFilter : public CFSFilter
{
public:
    explicit CTestFilter(bool dropFiles) : dropFiles(dropFiles) {}

    bool isFiltered(const quint32& module, const QString& spacePath, const QString& path,
                    const QString& name, bool isDirectory, quint32& type) override
    {
        const bool typeRight = QFileInfo(path + '/' + name).isDir() == isDirectory;
        queries.append(QStringLiteral("%1 %2 %3").arg(module).arg(spacePath).arg(typeRight));
        type = 7;
        return dropFiles || isDirectory;
    }

    bool dropFiles;
    QStringList queries;
};

} // namespace

class tst_CDirIterator : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void abortFlag();
    void filter_data();
    void filter();
    void namesNotUtf8_data();
    void namesNotUtf8();
    void listingInOneWalk_data();
    void listingInOneWalk();
};

// The scanner leaves the flag to its owner: every scan stops until it is cleared.
void tst_CDirIterator::abortFlag()
{
    const QString root = environment->makeDir("abort");
    QVERIFY(CTestTree::make(root, "a.log=a;b.log=b"));
    CDirIterator scanner(root, zipperEntries, QDirIterator::Subdirectories, nullptr, {}, 0);
    scanner.setAbort(true);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    qint64 totalSize = 5;
    expectDebug("scanning aborted true false false");
    QVERIFY(!scanner.dirIterate(dirs, files, totalSize, false, false));
    expectDebug("scanning aborted true true false");
    QVERIFY(!scanner.dirIterate(dirs, files, totalSize, false, true));
    QVERIFY(dirs.isEmpty() && files.isEmpty());
    QCOMPARE(totalSize, 5);
    scanner.setAbort(false);
    QVERIFY(scanner.dirIterate(dirs, files, totalSize, false, true));
    QCOMPARE(files.size(), 2);
    QCOMPARE(totalSize, 7);
}

void tst_CDirIterator::filter_data()
{
    // The test's filter drops every entry ("all") or every folder ("folders"); the real one,
    // asked for the scanner module, drops the client's working files and short-name aliases.
    // Either way the scan goes on below a dropped folder.
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("dirs");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<qint64>("totalSize");
    QTest::newRow("drops everything") << "all" << QStringList() << QStringList() << qint64(1);
    QTest::newRow("a dropped folder's files stay")
        << "folders" << QStringList()
        << QStringList{".syncarium/state/s.db", "ABCDEF~1.TXT",    "PROGRA~1/inner.txt",
                       "docs/qt_temp.x",        "docs/report.txt", "keep.log"}
        << qint64(7);
    QTest::newRow("default filter") << "default" << QStringList{"docs"}
                                    << QStringList{"docs/report.txt", "keep.log"} << qint64(3);
}

void tst_CDirIterator::filter()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, dirs);
    QFETCH(QStringList, files);
    QFETCH(qint64, totalSize);
    const QString root = environment->makeDir(QTest::currentDataTag());
    QVERIFY(CTestTree::make(root, ".syncarium/state/s.db=s;ABCDEF~1.TXT=a;docs/qt_temp.x=q;"
                                  "docs/report.txt=r;keep.log=k;PROGRA~1/inner.txt=i"));
    CTestFilter testFilter(filter == "all");
    CFSFilter defaultFilter;
    const bool byDefault = filter == "default";
    CDirIterator scanner(root, zipperEntries, QDirIterator::Subdirectories,
                         byDefault ? &defaultFilter : &testFilter, byDefault ? "" : "/space/",
                         byDefault ? quint32(CFSFilter::Scanner) : 4u);
    QList<QFileInfo> foundDirs;
    QList<QFileInfo> found;
    qint64 size = 1;
    QVERIFY(scanner.dirIterate(foundDirs, found, size, false, false));
    QCOMPARE(names(foundDirs, root), dirs);
    QCOMPARE(names(found, root), files);
    QCOMPARE(size, totalSize);
    QCOMPARE(testFilter.queries, QStringList(byDefault ? 0 : 10, "4 /space/ 1"));
}

void tst_CDirIterator::namesNotUtf8_data()
{
    QTest::addColumn<int>("entryFilter");
    QTest::addColumn<bool>("recurse");
    QTest::addColumn<QList<QByteArray>>("rawDirs");
    QTest::addColumn<QList<QByteArray>>("rawFiles");
    const QList<QByteArray> all{"bad\xff/.hidden", "bad\xff/in.log", "bad\xff/sub/deep.log",
                                "caf\xe9.log"};
    QTest::newRow("the zipper's entries")
        << int(zipperEntries) << true << QList<QByteArray>{"bad\xff", "bad\xff/sub"} << all;
    QTest::newRow("top level only") << int(zipperEntries) << false << QList<QByteArray>{"bad\xff"}
                                    << QList<QByteArray>{"caf\xe9.log"};
    QTest::newRow("no hidden entries")
        << int(zipperEntries & ~QDir::Hidden) << true << QList<QByteArray>{"bad\xff", "bad\xff/sub"}
        << QList<QByteArray>{"bad\xff/in.log", "bad\xff/sub/deep.log", "caf\xe9.log"};
    QTest::newRow("files only") << int(zipperEntries & ~QDir::Dirs) << true << QList<QByteArray>()
                                << all;
}

// Entries the toolkit cannot name are found by their bytes, below the folders too; the entry
// filter's kinds, hidden entries and links apply to them as well.
void tst_CDirIterator::namesNotUtf8()
{
    QFETCH(int, entryFilter);
    QFETCH(bool, recurse);
    QFETCH(QList<QByteArray>, rawDirs);
    QFETCH(QList<QByteArray>, rawFiles);
    const QString root = environment->makeDir(QTest::currentDataTag());
    QVERIFY(CTestTree::makeByName(root, {"ok.log", "caf\xe9.log", "bad\xff/in.log",
                                         "bad\xff/.hidden", "bad\xff/sub/deep.log"}));
    QVERIFY(QFile::link(root + "ok.log", root + "link.log"));
    CDirIterator scanner(root, QDir::Filters(entryFilter),
                         recurse ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags,
                         nullptr, {}, 0);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    QVERIFY(scanner.dirIterate(dirs, files, false, false));
    QVERIFY(dirs.isEmpty());
    QCOMPARE(names(files, root), QStringList{"ok.log"});
    const QByteArray rootBytes = QFile::encodeName(root);
    const auto relative = [&](const QList<CDirIterator::TRawEntry>& entries, bool isDirectory) {
        QList<QByteArray> result;
        for (const CDirIterator::TRawEntry& entry : entries) {
            result.append(entry.path.mid(rootBytes.size()));
            if (entry.isDirectory != isDirectory || entry.isRegular == isDirectory ||
                entry.size != (isDirectory ? 0 : 10))
                result.append("wrong details");
        }
        std::sort(result.begin(), result.end());
        return result;
    };
    QCOMPARE(relative(scanner.rawDirs(), true), rawDirs);
    QCOMPARE(relative(scanner.rawFiles(), false), rawFiles);
    CTestTree::removeByName(root);
}

void tst_CDirIterator::listingInOneWalk_data()
{
    namesNotUtf8_data();
}

// The compact listing holds what the two walks find, in their order, the UTF-8 entries of each
// kind first; it knows each file's size and each folder's permissions.
void tst_CDirIterator::listingInOneWalk()
{
    QFETCH(int, entryFilter);
    QFETCH(bool, recurse);
    const QString root = environment->makeDir(QTest::currentDataTag());
    QVERIFY(CTestTree::makeByName(root, {"ok.log", "caf\xe9.log", "bad\xff/in.log",
                                         "bad\xff/.hidden", "bad\xff/sub/deep.log", "a/b/c.log",
                                         "a/.d/e.log", "a/f.log"}));
    QVERIFY(QFile::link(root + "ok.log", root + "link.log"));
    QVERIFY(QFile::link(root + "nowhere", root + "a/dangling"));
    QVERIFY(QFile::setPermissions(root + "a/b", QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadGroup));
    const QDirIterator::IteratorFlags flags =
        recurse ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags;
    CDirIterator byInfo(root, QDir::Filters(entryFilter), flags, nullptr, {}, 0);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    qint64 total = 0;
    QVERIFY(byInfo.dirIterate(dirs, files, total, false, false));
    CDirIterator compact(root, QDir::Filters(entryFilter), flags, nullptr, {}, 0);
    CDirListing listing;
    expectDebug("scanning " + root);
    expectDebug(QStringLiteral("scanning complete. dirs %1 files %2 complete file size %3")
                    .arg(dirs.size() + byInfo.rawDirs().size())
                    .arg(files.size() + byInfo.rawFiles().size())
                    .arg(total + 10 * byInfo.rawFiles().size()));
    QVERIFY(compact.dirIterate(listing, true, false));
    const QByteArray rootBytes = QFile::encodeName(root).chopped(1);
    QCOMPARE(listing.root(), rootBytes);
    const auto compare = [&](const std::vector<CDirListing::TEntry>& listed,
                             const QList<QFileInfo>& infos,
                             const QList<CDirIterator::TRawEntry>& raw, bool isDirectory) {
        QList<QByteArray> expected;
        QList<QByteArray> got;
        for (const QFileInfo& info : infos)
            expected.append(QFile::encodeName(info.filePath()) + ' ' +
                            QByteArray::number(isDirectory ? int(info.permissions()) & 0x7077
                                                           : info.size()));
        for (const CDirIterator::TRawEntry& entry : raw)
            expected.append(entry.path + ' ' + QByteArray::number(isDirectory ? -1 : entry.size));
        for (const CDirListing::TEntry& entry : listed) {
            const bool decodable = got.size() < qsizetype(isDirectory ? listing.decodableDirs()
                                                                      : listing.decodableFiles());
            // The listing's Unix bits, spelled as the toolkit's permissions.
            const int bits = int(entry.mode & 0777);
            const int permissions = (bits >> 6) << 12 | ((bits >> 3) & 7) << 4 | (bits & 7);
            got.append(listing.filePath(entry) + ' ' +
                       QByteArray::number(!isDirectory ? entry.size
                                          : decodable  ? permissions
                                                       : -1));
        }
        QCOMPARE(got, expected);
    };
    compare(listing.dirs(), dirs, byInfo.rawDirs(), true);
    compare(listing.files(), files, byInfo.rawFiles(), false);
    CTestTree::removeByName(root);
}

QTEST_GUILESS_MAIN(tst_CDirIterator)
#include "tst_CDirIterator.moc"
