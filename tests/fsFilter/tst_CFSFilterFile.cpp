#include "fsFilter/CFSFilterFile.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"
#include "fsFilter/CFSFilterConfig.h"
#include "fsFilter/CFSPlatformFilter.h"

#include <QProcess>
#include <QTest>

#include <unistd.h>

namespace {

using TList = CFSFilter::TSettings (CFSFilter::*)(quint32) const;
const QList<QPair<const char*, TList>> lists = {{"directory", &CFSFilter::excludesDirectory},
                                                {"file", &CFSFilter::excludesFile},
                                                {"path", &CFSFilter::excludesPath},
                                                {"fileType", &CFSFilter::excludesFileType},
                                                {"namePrefix", &CFSFilter::excludesNamePrefix},
                                                {"nameSuffix", &CFSFilter::excludesNameSuffix},
                                                {"dirPattern", &CFSFilter::excludesDirPattern},
                                                {"filePattern", &CFSFilter::excludesFilePattern},
                                                {"pathPattern", &CFSFilter::excludesPathPattern}};

QStringList rules(const CFSFilter& filter)
{
    QStringList lines;
    for (const auto& [name, list] : lists) {
        for (quint32 module = 1; module <= 0x40; module <<= 1) {
            for (const CFSFilterSetting& setting : (filter.*list)(module))
                lines << QStringLiteral("%1 %2 %3 %4")
                             .arg(name)
                             .arg(module)
                             .arg(setting.type)
                             .arg(setting.value);
        }
    }
    return lines;
}

// Every rule and option of a filter as sorted lines "<category> <module> <type> <value>" and
// "options <module> <bits>", without those every new filter holds.
QStringList describe(const CFSFilter& filter)
{
    static const QStringList builtIn = rules(CFSFilter());
    QStringList lines;
    for (const QString& line : rules(filter)) {
        if (!builtIn.contains(line))
            lines << line;
    }
    const CFSFilter::TOptions options = filter.moduleOptions();
    const CFSFilter::TOptions builtInOptions = CFSFilter().moduleOptions();
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        if (builtInOptions.value(it.key(), 0xFFFFFFFF) != it.value())
            lines << QStringLiteral("options %1 %2").arg(it.key()).arg(it.value(), 0, 16);
    }
    lines.sort();
    return lines;
}

// An array as the settings write it, elements numbered from 1 (each item is value, modules,
// type), ending with its size: the number of items unless another is given.
QByteArray elements(const QByteArray& key, const QList<QByteArrayList>& items,
                    const QByteArray& size = {})
{
    QByteArray text;
    for (int i = 0; i < items.size(); ++i) {
        const QByteArray prefix = "excludes\\" + QByteArray::number(i + 1) + '\\';
        text += prefix + key + '=' + items[i][0] + '\n' + prefix + "modules=" + items[i][1] + '\n' +
                prefix + "type=" + items[i][2] + '\n';
    }
    return text + "excludes\\size=" + (size.isNull() ? QByteArray::number(items.size()) : size) +
           '\n';
}

void expectLoad(QtMsgType type, const QString& text)
{
    CExpect::record(type, "CFSFilterFile.cpp", "CFSFilterFile::load", text);
}

void expectSave(const QString& text)
{
    CExpect::record(QtCriticalMsg, "CFSFilterFile.cpp", "CFSFilterFile::save", text);
}

} // namespace

class tst_CFSFilterFile : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void layout();
    void load_data();
    void load();
    void badFiles_data();
    void badFiles();
    void loadKeepsWhatIsHeld();
    void roundTrip();
    void saveRefusals();
    void config();
};

// The keys a user edits, byte for byte.
void tst_CFSFilterFile::layout()
{
    CFSFilter filter;
    QVERIFY(filter.addExcludeDirectory(CFSFilter::Watcher, 1, "tmp"));
    QVERIFY(filter.addExcludeDirectory(CFSFilter::Scanner, 1, "tmp"));
    QVERIFY(filter.addExcludeFileType(CFSFilter::Synchronizer, 2, "bak"));
    QVERIFY(filter.addExcludeFileType(CFSFilter::Synchronizer, 1, "Bak~"));
    QVERIFY(filter.addExcludeFileType(CFSFilter::RuleEngine, 3, "bak"));
    CFSFilterFile file(dir + "layout/filter.ini");
    file.setFilter(&filter);
    QVERIFY(file.save(false));
    const QByteArray text = CTestTree::content(file.fileName());
    for (const QByteArray& section :
         {"[directories]\n" +
              elements("directory",
                       {{".syncarium/", "71", "4"}, {"tmp", "3", "1"}, {"~/", "71", "4"}}),
          "[fileTypes]\n" +
              elements("fileType", {{"Bak~", "8", "1"}, {"bak", "8", "2"}, {"bak", "16", "3"}}),
          QByteArray("[options]\narchiver=419\ncopyController=419\nmessageBuilder=0\n"
                     "ruleEngine=0\nscanner=419\nsynchronizer=0\nwatcher=291\n"),
          QByteArray("[paths]\nexcludes\\size=0\n")})
        QVERIFY2(text.contains(section), text.constData());
}

void tst_CFSFilterFile::load_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("rules");
    QTest::addColumn<QStringList>("warnings");
    const auto row = [](const char* tag, const QByteArray& content, const QStringList& rules,
                        const QStringList& warnings = {}) {
        QTest::newRow(tag) << content << rules << warnings;
    };
    row("modules 0x41", "[files]\n" + elements("file", {{"a.log", "65", "7"}}),
        {"file 1 7 a.log", "file 64 7 a.log"});
    row("modules 0, type 0, empty value",
        "[files]\n" +
            elements("file", {{"a", "0", "7"}, {"b", "1", "0"}, {"", "1", "1"}, {"d", "2", "1"}}),
        {"file 2 1 d"},
        {"element 1 of files skipped: no module", "element 2 of files skipped: type 0",
         "element 3 of files skipped: empty value"});
    const QString notANumber =
        QStringLiteral("element %1 of files skipped: modules or type is not an unsigned number");
    row("numbers that are not numbers",
        "[files]\n" + elements("file", {{"a", "0x41", "1"}, {"b", "1", "-1"}}) +
            "[options]\nwatcher=all\n",
        {},
        {"option watcher is not an unsigned number; skipped", notANumber.arg(1),
         notANumber.arg(2)});
    row("unknown module bits",
        "[paths]\n" + elements("path", {{"/a", "384", "1"}, {"/b", "130", "1"}}), {"path 2 1 /b"},
        {"element 1 of paths skipped: no module",
         "element 2 of paths names unknown modules; they are ignored"});
    row("pattern that does not compile",
        "[filePatterns]\n" + elements("filePattern", {{"a(b", "3", "1"}, {".*\\\\.o", "1", "1"}}),
        {"filePattern 1 1 .*\\.o"},
        {"element 1 of filePatterns skipped: invalid pattern missing closing parenthesis"});
    row("options: 0 keeps, others are added", "[options]\nwatcher=0\nscanner=4\nsynchronizer=1\n",
        {"options 2 1a7", "options 8 1"});
    row("byte order mark", "\xEF\xBB\xBF[files]\n" + elements("file", {{"b\xC3\xA4r", "8", "2"}}),
        {"file 8 2 bär"});
    // The value's decoder drops the first mark; the second would be lost by a save.
    row("byte order marks before a value",
        "[files]\n" + elements("file", {{"\xEF\xBB\xBF\"\xEF\xBB\xBF\"a", "8", "2"}}),
        {"file 8 2 a"},
        {"element 1 of files starts with a byte order mark (U+FEFF), which a save would not "
         "keep; it is dropped"});
    const QList<QByteArrayList> twoFiles = {{"a", "8", "2"}, {"b", "8", "2"}};
    const QString sizeWarning = QStringLiteral(
        "array files says it holds %1 elements; reading the %2 it holds in that range");
    row("size says a million", "[files]\n" + elements("file", twoFiles, "1000000"),
        {"file 8 2 a", "file 8 2 b"}, {sizeWarning.arg(1000000).arg(2)});
    row("negative size", "[files]\n" + elements("file", {{"a", "8", "2"}}, "-3"), {},
        {sizeWarning.arg(-3).arg(0)});
    row("size smaller than the elements", "[files]\n" + elements("file", twoFiles, "1"),
        {"file 8 2 a"}, {sizeWarning.arg(1).arg(1)});
    row("garbage", QByteArray("\x01\x02\xFF\xFE garbage = = [[[\n\0\0\n]]", 24), {});
    row("duplicates ignoring case",
        "[directories]\n" + elements("directory", {{"Tmp/", "8", "2"}, {"tmp/", "24", "3"}}),
        {"directory 16 3 tmp/", "directory 8 2 Tmp/"});
    // A misspelt key does nothing; it is named (%3 the file) so that the user finds it.
    const QString key = QStringLiteral("ignored unknown key %1 in section %2 of filter file %3");
    row("misspelt option", "[options]\nscaner=8\nwatcher=4\n", {"options 1 127"},
        {key.arg("scaner", "options")});
    row("misspelt element key",
        "[directories]\nexcludes\\1\\directroy=tmp\nexcludes\\1\\modules=1\n"
        "excludes\\1\\type=1\nexcludes\\2\\directory=b/\nexcludes\\2\\modules=1\n"
        "excludes\\2\\type=1\nexcludes\\size=2\n",
        {"directory 1 1 b/"},
        {"element 1 of directories skipped: empty value",
         key.arg("excludes\\1\\directroy", "directories")});
    row("key beside the array", "[files]\nsize=4\n", {}, {key.arg("size", "files")});
    row("element that is no number", "[files]\nexcludes\\one\\file=a\nexcludes\\size=0\n", {},
        {key.arg("excludes\\one\\file", "files")});
    row("misspelt section", "[direcotries]\nexcludes\\1\\directory=tmp\nexcludes\\size=1\n", {},
        {"ignored unknown section direcotries of filter file %3 with the keys "
         "excludes\\1\\directory, excludes\\size"});
    row("key outside any section", "watcher=1\n", {}, {key.arg("watcher", "General")});
}

void tst_CFSFilterFile::load()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, rules);
    QFETCH(QStringList, warnings);
    CFSFilterFile file(environment->writeFile(
        QStringLiteral("load/%1.ini").arg(QTest::currentDataTag()), content));
    for (const QString& warning : std::as_const(warnings)) {
        CExpect::record(QtWarningMsg, "CFSFilterFile.cpp",
                        warning.startsWith("ignored") ? "CFSFilterFile::warnAboutUnknownKeys"
                                                      : "CFSFilterFile::load",
                        QString(warning).replace("%3", file.fileName()));
    }
    QVERIFY(file.load());
    QCOMPARE(describe(*file.getFilter()), rules);
}

void tst_CFSFilterFile::badFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("critical");
    const auto row = [](const char* tag, const QString& kind, const QString& critical) {
        QTest::newRow(tag) << kind << critical;
    };
    const QString prefix = QStringLiteral("Error loading file system filter file: %1 ");
    row("no file name", "none", "Error no filter file specified.");
    row("missing", "missing", prefix + "not found.");
    row("FIFO", "fifo", prefix + "is not a regular file.");
    row("unreadable", "unreadable", prefix + "could not be read: Permission denied");
    // Decoding it would build a cursor, which ends a program without a GUI.
    row("serialised value", "serialised",
        prefix + "holds a serialised value (@Variant or @DateTime), which is not read.");
}

void tst_CFSFilterFile::badFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, critical);
    if (kind == "unreadable" && ::geteuid() == 0)
        QSKIP("root reads every file");
    const QString dir = environment->makeDir("bad/" + kind);
    QString path = dir + "default.ini";
    if (kind == "none")
        path.clear();
    else if (kind == "fifo")
        QCOMPARE(QProcess::execute("mkfifo", {path}), 0);
    else if (kind == "unreadable") {
        environment->writeFile("bad/unreadable/default.ini", "[options]\nwatcher=1\n");
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    } else if (kind == "serialised") {
        environment->writeFile("bad/serialised/default.ini",
                               "[options]\nwatcher=@Variant(\\0\\0\\0\\xJ\\0\\0\\0\\x5)\n");
    }
    CFSFilterFile file(path);
    expectLoad(QtCriticalMsg, path.isEmpty() ? critical : critical.arg(path));
    QVERIFY(!file.load());
    QVERIFY(describe(*file.getFilter()).isEmpty());
}

// Loading adds: rules held stay, and an option bit is never cleared. The file takes and hands
// out copies, and keeps its own when given none.
void tst_CFSFilterFile::loadKeepsWhatIsHeld()
{
    CFSFilterFile file(
        environment->writeFile("keep/filter.ini", "[options]\nwatcher=4\nscanner=0\n[files]\n" +
                                                      elements("file", {{"b", "1", "1"}})));
    CFSFilter held;
    QVERIFY(held.addExcludeFile(CFSFilter::Watcher, 2, "a"));
    held.setModuleOptions(CFSFilter::Scanner, 1);
    file.setFilter(&held);
    QVERIFY(held.addExcludeFile(CFSFilter::Watcher, 3, "c"));
    QVERIFY(file.load());
    const QStringList loaded = {"file 1 1 b", "file 1 2 a", "options 1 127", "options 2 1"};
    QCOMPARE(describe(*file.getFilter()), loaded);
    QVERIFY(file.getFilter()->addExcludeFile(CFSFilter::Watcher, 4, "d"));
    file.setFilter(nullptr);
    QVERIFY(file.load());
    QCOMPARE(describe(*file.getFilter()), loaded);
}

void tst_CFSFilterFile::roundTrip()
{
    CFSFilter filter;
    QVERIFY(filter.addExcludeDirectory(CFSFilter::Watcher, 1, "build/"));
    QVERIFY(filter.addExcludeDirectory(CFSFilter::Synchronizer, 2, "build/"));
    QVERIFY(filter.addExcludeFile(CFSFilter::Synchronizer, 3, "Ärger, \"quoted\" = x;y"));
    QVERIFY(filter.addExcludePath(CFSFilter::MessageBuilder, 0xFFFFFFFF, "/a b/c\\d"));
    QVERIFY(filter.addExcludeFileType(CFSFilter::RuleEngine, 5, " tar.gz "));
    QVERIFY(filter.addExcludeNamePrefix(CFSFilter::CopyController, 6, "@Variant(x)"));
    // Markers inside a text are text, whatever stands before them.
    QVERIFY(filter.addExcludeFile(CFSFilter::Watcher, 11, "a@Variant(x)"));
    QVERIFY(filter.addExcludeDirectory(CFSFilter::Scanner, 12, " @DateTime(y), @Variant(z)"));
    QVERIFY(filter.addExcludeNameSuffix(CFSFilter::Archiver, 7, "#~\t"));
    QVERIFY(filter.addExcludeDirPattern(CFSFilter::Scanner, 8, "^cache[0-9]*$"));
    QVERIFY(filter.addExcludeFilePattern(CFSFilter::Watcher, 9, ".*\\.(tmp|bak)"));
    QVERIFY(filter.addExcludePathPattern(CFSFilter::RuleEngine, 10, "/日本語/.*"));
    filter.addModuleOptions(CFSFilter::MessageBuilder, 0x1FF);
    filter.setModuleOptions(CFSFilter::Watcher, 0x100);
    CFSFilterFile saved(dir + "roundtrip/filter.ini");
    saved.setFilter(&filter);
    QVERIFY(saved.save(false));
    CFSFilterFile loaded(saved.fileName());
    QVERIFY(loaded.load());
    // Options are ORed into those of a new filter, so only bits can be added.
    filter.addModuleOptions(CFSFilter::Watcher, 0x123);
    QCOMPARE(describe(*loaded.getFilter()), describe(filter));
    QCOMPARE(describe(filter).size(), 13);
}

// A refused or failed save leaves the file on disk as it was.
void tst_CFSFilterFile::saveRefusals()
{
    const QByteArray old = "[options]\nwatcher=1\n";
    const QString path = environment->writeFile("refuse/filter.ini", old);
    CFSFilterFile file(path);
    expectSave("Error filter file already exists: " + path);
    QVERIFY(!file.save(false));
    CFSFilterFile unnamed;
    expectSave("Error no filter file specified.");
    QVERIFY(!unnamed.save(true));
    const auto expectWriteError = [] {
        CExpect::recordMatching(QtCriticalMsg, "CFSFilterFile.cpp", "CFSFilterFile::save",
                                "Error writing filter file: .*");
    };
    const QString blocker = environment->writeFile("refuse/blocker", "not a folder");
    CFSFilterFile below(blocker + "/filter.ini");
    expectWriteError();
    QVERIFY(!below.save(true));
    QCOMPARE(CTestTree::content(blocker), "not a folder");
    // Root writes into read-only folders.
    if (::geteuid() != 0) {
        const QString folder = dir + "refuse";
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        expectWriteError();
        QVERIFY(!file.save(true));
        CTestTree::unlock(dir);
    }
    QCOMPARE(CTestTree::content(path), old);
    QVERIFY(file.save(true));
    QVERIFY(!CTestTree::content(path).contains("watcher=1\n"));
    QVERIFY(CTestTree::content(path).contains("watcher=291\n"));
}

void tst_CFSFilterFile::config()
{
    CFSFilterConfig* config = CFSFilterConfig::instance();
    QCOMPARE(config->baseFolder(), environment->home() + ".local/share/Syncarium/");
    QCOMPARE(config->defaultFilterFile(),
             environment->home() + ".local/share/Syncarium/fsConfig/filter/default.ini");
    config->setBaseFolder("/opt/sy");
    QCOMPARE(config->defaultFilterFile(), "/opt/sy/fsConfig/filter/default.ini");
    QCOMPARE(config->spaceFilterFolder(), "/opt/sy/fsConfig/filter/");
    QCOMPARE(config->spaceFilterFile(17), "/opt/sy/fsConfig/filter/17.ini");
    config->setSpaceFilterFolder("/s");
    QCOMPARE(config->spaceFilterFile(3), "/s/3.ini");
    CFSFilterConfig::destroy();
    QVERIFY(!CFSFilterConfig::exists());
}

QTEST_GUILESS_MAIN(tst_CFSFilterFile)
#include "tst_CFSFilterFile.moc"
