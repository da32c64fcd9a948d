#include "IniFile/CIniFileSettings.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSize>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using TGetter = std::function<QVariant(CIniFileSettings&)>;
using TSetter = std::function<void(CIniFileSettings&, const QVariant&)>;

// One key: how it is read and written; the setter is empty for keys that are only read.
struct TKey
{
    const char* key;
    QVariant defaultValue;
    QVariant written;
    TGetter get;
    TSetter set;
};

template<typename T>
TGetter getter(T (CIniFileSettings::*get)())
{
    return [get](CIniFileSettings& settings) { return QVariant::fromValue((settings.*get)()); };
}

template<typename T>
TSetter setter(void (CIniFileSettings::*set)(T))
{
    return [set](CIniFileSettings& settings, const QVariant& value) {
        (settings.*set)(value.value<std::decay_t<T>>());
    };
}

const QString nonAscii = "Grüße aus 東京";

const QList<TKey>& keyTable()
{
    using C = CIniFileSettings;
    // A key read with getName and written with setName.
#define SY_KEY(key, defaultValue, written, name)                                                   \
    TKey                                                                                           \
    {                                                                                              \
        key, defaultValue, written, getter(&C::get##name), setter(&C::set##name)                   \
    }
    static const QList<TKey> keys = {
        SY_KEY("general/scannStart", 2, 0, ScannStart),
        SY_KEY("general/scanOnFailure", 2, 1, ScanOnFailure),
        SY_KEY("general/alwaysCreateVersionForReplacedFiles", 2, 0,
               AlwaysCreateVersionForReplacedFiles),
        SY_KEY("general/autoStart", 2, 0, AutoStart),
        SY_KEY("general/trayMessages", 2, 1, TrayMessages),
        SY_KEY("hints/startup/showWelcome", 2, 0, ShowWelcome),
        SY_KEY("general/updateCheck", true, false, UpdateCheck),
        SY_KEY("general/online", true, false, Online),
        {"general/startGUI", true, false, getter(&C::getStartGUI), {}},
        {"general/backupDBAtStartUp", false, true, getter(&C::getBackupDBAtStartUp), {}},
        {"logSender/maskCredentials", true, false, getter(&C::getMaskCredentials), {}},
        SY_KEY("general/backupDBAtRevisionUpdate", true, false, BackupDBAtRevisionUpdate),
        SY_KEY("general/checkForMultipleDataBaseXTRs", true, false, CheckForMultipleDataBaseXTRs),
        SY_KEY("general/portableAppsUserSpacePath", "../../../../Documents/Syncarium Spaces",
               "../Spaces", PortableAppsUserSpacePath),
        {"server/defaultAccessKey", "aDefault_b.sakh", "key.sakh",
         [](C& settings) { return QVariant(settings.getDefaultAccessKey("a", "b")); },
         setter(&C::setDefaultAccessKey)},
        SY_KEY("paths/defaultArchivGroup", QString(), nonAscii, DefaultArchivGroup),
        SY_KEY("paths/depotFilesPath", QString(), "/data/depot, old", DepotFilesPath),
        SY_KEY("paths/PSSFilesPath", QString(), "/data/pss", PSSFilesPath),
        SY_KEY("archiv/archivCacheSize", qint64(524288000), qint64(1) << 40, ArchivCacheSize),
        SY_KEY("archiv/archivCacheEnabled", true, false, ArchivCacheEnabled),
        SY_KEY("archiv/archivCacheCleanupInterval", quint32(3600000), quint32(4000000000u),
               ArchivCacheCleanupInterval),
        SY_KEY("communication/pollIntervall", 300, 60, PollIntervall),
        SY_KEY("communication/versionExpired", false, true, VersionExpired),
        SY_KEY("communication/updateUrl", "false", "https://a.b/u?x=1,2", UpdateUrl),
        SY_KEY("communication/parseSY1LogStrict", true, false, ParseSY1LogStrict),
        SY_KEY("communication/startDBWithPort", false, true, StartDBWithPort),
        {"dialogs/autoAcceptInvitations", false, true, getter(&C::getAutoAcceptInvitations), {}},
        SY_KEY("dialogs/dlgStopAtPathToLong", true, false, DlgStopAtPathToLong),
        SY_KEY("dialogs/dlgDlgPathWarning", true, false, DlgDlgPathWarning),
        SY_KEY("gui/showInFileSys", true, false, ShowInFileSys),
        SY_KEY("gui/fontSize", quint32(11), quint32(14), FontSize),
        SY_KEY("sync/syncStopOnFailure", true, false, SyncStopOnFailure),
        SY_KEY("sync/syncShowPathWarning", true, false, SyncShowPathWarning),
    };
#undef SY_KEY
    return keys;
}

void expectCritical(const char* function, const QString& pattern)
{
    CExpect::recordMatching(QtCriticalMsg, "CIniFileSettings.cpp",
                            "CIniFileSettings::" + QString::fromLatin1(function), pattern);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The text QSettings writes for key and value, as another part of the client stores it.
QByteArray writtenByQSettings(const QString& key, const QVariant& value)
{
    const QTemporaryDir folder;
    const QString path = folder.filePath("written.ini");
    QSettings(path, QSettings::IniFormat).setValue(key, value);
    return readFile(path);
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

// The test program started again to run one of its own slots with the given variables set.
std::unique_ptr<QProcess> startSelf(const QStringList& arguments,
                                    const QList<QPair<QString, QString>>& variables)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& variable : variables)
        environment.insert(variable.first, variable.second);
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(arguments.first(), arguments.mid(1));
    return process;
}

} // namespace

class tst_CIniFileSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void plainKeys_data();
    void plainKeys();
    void wrongTypes_data();
    void wrongTypes();
    void repairKeys_data();
    void repairKeys();
    void derivedKeys();
    void proxy_data();
    void proxy();
    void groups();
    void valuesOfOtherTypes();
    void datesOfOtherWriters_data();
    void datesOfOtherWriters();
    void markers_data();
    void markers();
    void spacesFolderCannotBeCreated_data();
    void spacesFolderCannotBeCreated();

    void damagedFile_data();
    void damagedFile();
    void skippedLinesKeepEveryKey_data();
    void skippedLinesKeepEveryKey();
    void rewriteThatWouldNotReadBack();
    void notARegularFile_data();
    void notARegularFile();
    void heldLock();
    void twoProcessesKeepTheirKeys();
    void threadsShareTheSettings();
    void readOnlyFolderAsUser();
    void unreadableFileAsUser();
    void failedWriteKeepsTheFile_data();
    void failedWriteKeepsTheFile();

    // Run by the slots above in a second process; they skip when started any other way.
    void holdLock();
    void writeKeys();
    void failedWriteInNamespace();

private:
    QString iniPath() const { return environment->home() + ".config/Syncarium/Syncarium.ini"; }
    CIniFileSettings& fresh()
    {
        CIniFileSettings::destroy();
        return *CIniFileSettings::instance();
    }
    // A critical record of function: the pattern text, then the settings file, then tail.
    void expectCriticalOnFile(const char* function, const QString& text,
                              const char* tail = "") const
    {
        expectCritical(function, text + ": " + QRegularExpression::escape(iniPath()) + tail);
    }
    // What an independent reader finds in the file under key.
    QVariant stored(const QString& key);

    std::unique_ptr<CTestEnvironment> environment;
    int copies = 0;
};

void tst_CIniFileSettings::init()
{
    environment.reset(); // restores the variables before the next environment saves them
    environment = std::make_unique<CTestEnvironment>();
    QVERIFY(environment->isValid());
}

void tst_CIniFileSettings::cleanup()
{
    CIniFileSettings::destroy();
}

QVariant tst_CIniFileSettings::stored(const QString& key)
{
    // A path of its own each time: QSettings keeps the files it read in a per-process cache.
    const QString copy = environment->root() + QString("reader-%1.ini").arg(++copies);
    if (!writeFile(copy, readFile(iniPath())))
        return "<no copy>";
    // Qt's reader gives a group "general" back as "General".
    QString qtKey = key;
    if (qtKey.startsWith("general/"))
        qtKey[0] = 'G';
    return QSettings(copy, QSettings::IniFormat).value(qtKey);
}

void tst_CIniFileSettings::plainKeys_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < keyTable().size(); ++i)
        QTest::newRow(keyTable().at(i).key) << i;
}

void tst_CIniFileSettings::plainKeys()
{
    QFETCH(int, index);
    const TKey& key = keyTable().at(index);
    const QString name = QLatin1String(key.key);
    QVERIFY(writeFile(iniPath(), QByteArray()));

    QCOMPARE(key.get(fresh()), key.defaultValue);
    QCOMPARE(readFile(iniPath()), QByteArray());

    if (key.set) {
        key.set(*CIniFileSettings::instance(), key.written);
        QCOMPARE(key.get(*CIniFileSettings::instance()), key.written);
        QCOMPARE(key.get(fresh()), key.written);
        QCOMPARE(stored(name).toString(), key.written.toString());
    } else {
        QSettings(iniPath(), QSettings::IniFormat).setValue(name, key.written);
        QCOMPARE(key.get(fresh()), key.written);
    }
}

void tst_CIniFileSettings::wrongTypes_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("key");

    QTest::newRow("text for a check state")
        << QByteArray("[general]\nscannStart=abc\n") << "general/scannStart";
    QTest::newRow("fraction for a check state")
        << QByteArray("[general]\nautoStart=0.5\n") << "general/autoStart";
    QTest::newRow("text for a flag")
        << QByteArray("[general]\nupdateCheck=abc\n") << "general/updateCheck";
    QTest::newRow("list for a flag")
        << QByteArray("[general]\nonline=false, false\n") << "general/online";
    QTest::newRow("number 7 for a flag")
        << QByteArray("[gui]\nshowInFileSys=7\n") << "gui/showInFileSys";
    QTest::newRow("text for a size")
        << QByteArray("[archiv]\narchivCacheSize=big\n") << "archiv/archivCacheSize";
    QTest::newRow("negative unsigned") << QByteArray("[gui]\nfontSize=-3\n") << "gui/fontSize";
    QTest::newRow("unsigned beyond 32 bits")
        << QByteArray("[archiv]\narchivCacheCleanupInterval=4294967296\n")
        << "archiv/archivCacheCleanupInterval";
    QTest::newRow("list for a number")
        << QByteArray("[communication]\npollIntervall=1, 2\n") << "communication/pollIntervall";
    QTest::newRow("typed value for a text")
        << QByteArray("[communication]\nupdateUrl=@Rect(1 2 3 4)\n") << "communication/updateUrl";
}

void tst_CIniFileSettings::wrongTypes()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, key);
    QVERIFY(writeFile(iniPath(), ini));
    const auto entry = std::find_if(keyTable().cbegin(), keyTable().cend(),
                                    [&](const TKey& known) { return key == known.key; });
    QVERIFY(entry != keyTable().cend());
    QCOMPARE(entry->get(fresh()), entry->defaultValue);
    QCOMPARE(readFile(iniPath()), ini);
}

void tst_CIniFileSettings::repairKeys_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("key");
    // Empty for a getter that must not write.
    QTest::addColumn<QString>("storedAfter");

    const auto row = [](const char* name, const QByteArray& ini, const char* key,
                        const char* storedAfter) {
        QTest::newRow(name) << ini << QString::fromLatin1(key) << QString::fromLatin1(storedAfter);
    };
    row("ports missing", "", "communication/ports", "3");
    row("ports 0", "[communication]\nports=0\n", "communication/ports", "3");
    row("ports text", "[communication]\nports=many\n", "communication/ports", "3");
    row("ports 5", "[communication]\nports=5\n", "communication/ports", "");
    row("cachable missing", "", "communication/cachable", "true");
    row("cachable false", "[communication]\ncachable=false\n", "communication/cachable", "true");
    row("cachable true", "[communication]\ncachable=true\n", "communication/cachable", "");
    row("timeout missing", "", "communication/timeout", "60000");
    row("timeout 0", "[communication]\ntimeout=0\n", "communication/timeout", "60000");
    row("timeout beyond 32 bits", "[communication]\ntimeout=10000000000\n", "communication/timeout",
        "");
    row("blocksize missing", "", "communication/blocksize", "256000");
    row("blocksize 1000", "[communication]\nblocksize=1000\n", "communication/blocksize", "256000");
    row("blocksize 256000", "[communication]\nblocksize=256000\n", "communication/blocksize", "");
    row("pingurl missing", "", "communication/pingurl", "ping");
    row("pingurl empty", "[communication]\npingurl=\n", "communication/pingurl", "ping");
    row("pingurl set", "[communication]\npingurl=https://p.example/ping.xml\n",
        "communication/pingurl", "");
    row("hosts missing", "", "webdav/hosts", "empty list");
    row("hosts empty text", "[webdav]\nhosts=\n", "webdav/hosts", "empty list");
    row("hosts empty list", "[webdav]\nhosts=@Invalid()\n", "webdav/hosts", "");
    row("hosts two", "[webdav]\nhosts=a.example, b.example\n", "webdav/hosts", "");
}

void tst_CIniFileSettings::repairKeys()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, key);
    QFETCH(QString, storedAfter);
    QVERIFY(writeFile(iniPath(), ini));
    const QRegularExpression ping("^https://[^/]+/ping\\.xml$");

    CIniFileSettings& settings = fresh();
    QString read;
    if (key == "communication/ports")
        read = QString::number(settings.getPorts());
    else if (key == "communication/cachable")
        read = QVariant(settings.getCachable()).toString();
    else if (key == "communication/timeout")
        read = QString::number(settings.getTimeout());
    else if (key == "communication/blocksize")
        read = QString::number(settings.getBlocksize());
    else if (key == "communication/pingurl")
        read = settings.getPingurl();
    else
        read = settings.getWebdavHosts().join('|');

    if (storedAfter.isEmpty()) {
        QCOMPARE(readFile(iniPath()), ini);
        return;
    }
    const QVariant value = stored(key);
    if (storedAfter == "ping") {
        QVERIFY2(ping.match(read).hasMatch(), qPrintable(read));
        QCOMPARE(value.toString(), read);
    } else if (storedAfter == "empty list") {
        QCOMPARE(read, QString());
        QVERIFY(QSettings(iniPath(), QSettings::IniFormat).contains(key));
        QCOMPARE(value.toStringList(), QStringList());
    } else {
        QCOMPARE(read, storedAfter);
        QCOMPARE(value.toString(), storedAfter);
    }
}

void tst_CIniFileSettings::derivedKeys()
{
    CIniFileSettings& settings = fresh();
    // The access key's pattern is filled in one pass: an argument holding "%2" stays as it is.
    QCOMPARE(settings.getDefaultAccessKey("x%2", "y"), "x%2Default_y.sakh");

    // The network-state setter writes another key than the getter reads.
    settings.setCheckNetworkState(false);
    QVERIFY(settings.getCheckNetworkState());
    QCOMPARE(stored("paths/checkNetworkState").toString(), "false");

    QVERIFY(!settings.isCustomPathsSet());
    settings.setDepotFilesPath("/depot");
    QVERIFY(!settings.isCustomPathsSet());
    settings.setPSSFilesPath("/pss");
    QVERIFY(settings.isCustomPathsSet());
    settings.setDepotFilesPath(QString());
    QVERIFY(!settings.isCustomPathsSet());
    QVERIFY(!QSettings(iniPath(), QSettings::IniFormat).contains("paths/depotFilesPath"));
    settings.setUpdateUrl("https://u.example/");
    settings.setUpdateUrl(QString());
    QCOMPARE(fresh().getUpdateUrl(), "false");
    QVERIFY(!readFile(iniPath()).contains("updateUrl"));

    // The repairing keys with a setter: a value below the repair bound is repaired on reading.
    CIniFileSettings::instance()->setPorts(9);
    QCOMPARE(fresh().getPorts(), quint32(9));
    CIniFileSettings::instance()->setBlocksize(300000);
    QCOMPARE(fresh().getBlocksize(), quint64(300000));
    CIniFileSettings::instance()->setBlocksize(1000);
    QCOMPARE(stored("communication/blocksize").toString(), "1000");
    QCOMPARE(fresh().getBlocksize(), quint64(256000));
    QCOMPARE(stored("communication/blocksize").toString(), "256000");

    const QString spaces = environment->home() + "Documents/Syncarium Spaces/";
    QCOMPARE(fresh().getDefaultSpacesFolder(), spaces);
    QVERIFY(QFileInfo(spaces).isDir());
    QCOMPARE(stored("paths/defaultSpacesFolder").toString(), spaces);
    CIniFileSettings::instance()->setDefaultSpacesFolder("/elsewhere/");
    QCOMPARE(fresh().getDefaultSpacesFolder(), "/elsewhere/");
}

void tst_CIniFileSettings::proxy_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");

    QTest::newRow("ascii") << QString("proxyuser") << QString("s3cret:with=signs");
    QTest::newRow("umlauts") << QString("Jürgen Größ") << QString("Päßwörd");
    QTest::newRow("cjk") << QString("山田太郎") << QString("密码🔑");
    QTest::newRow("empty") << QString() << QString();
}

void tst_CIniFileSettings::proxy()
{
    QFETCH(QString, user);
    QFETCH(QString, password);

    QNetworkProxy none(QNetworkProxy::HttpProxy, "proxy.example", 1);
    QCOMPARE(fresh().getProxy(none), quint32(0));
    QCOMPARE(none.type(), QNetworkProxy::NoProxy);

    const QNetworkProxy written(QNetworkProxy::Socks5Proxy, "proxy.example", 3128, user, password);
    CIniFileSettings::instance()->setProxy(written, 3);
    const QByteArray file = readFile(iniPath());
    QVERIFY(file.contains("[ProxySettings]"));
    QCOMPARE(stored("ProxySettings/UserName").toString(),
             QString::fromLatin1(user.toUtf8().toBase64()));
    if (!password.isEmpty())
        QVERIFY(!file.contains(password.toUtf8()));

    QNetworkProxy read;
    QCOMPARE(fresh().getProxy(read), quint32(3));
    QCOMPARE(read.type(), QNetworkProxy::HttpProxy);
    QCOMPARE(read.hostName(), "proxy.example");
    QCOMPARE(read.port(), quint16(3128));
    QCOMPARE(read.user(), user);
    QCOMPARE(read.password(), password);

    CIniFileSettings::instance()->setProxy(written, 0);
    QCOMPARE(fresh().getProxy(read), quint32(0));
    QCOMPARE(read.type(), QNetworkProxy::NoProxy);
}

void tst_CIniFileSettings::groups()
{
    CIniFileSettings& settings = fresh();
    const QMap<QString, QString> profile = {
        {"Firstname", "Zoë"}, {"Lastname", "李"}, {"Straße", "a, b"}};
    settings.setUserProfile(profile);
    settings.setSideWindow("Left", 3, "filesWidget");
    settings.setSideWindow("Right", 0, "Ünterwidget");
    settings.setGroupStringList("lists", "names", {"a,b", "c"});
    settings.setGroupValues("gui/sideWindow", {{"OtherKey", "x"}});
    settings.setGroupValues("extra", {{"one", 1}, {"two", "2"}});
    settings.removeKey("extra/one");

    CIniFileSettings& again = fresh();
    QCOMPARE(again.getUserProfile(), profile);
    QString widget;
    QCOMPARE(again.getSideWindow("Left", widget), quint32(3));
    QCOMPARE(widget, "filesWidget");
    QCOMPARE(again.getSideWindow("Missing", widget), quint32(0));
    QCOMPARE(widget, QString());
    const QMap<QString, QString> windows = {{"Left", "filesWidget"}, {"Right", "Ünterwidget"}};
    QCOMPARE(again.getSideWindows(), windows);
    QCOMPARE(stored("lists/names").toStringList(), QStringList({"a,b", "c"}));
    const QVariantMap extra = again.getGroupValues("extra");
    QCOMPARE(extra.keys(), QStringList{"two"});
    QCOMPARE(extra.value("two").toString(), "2");
}

void tst_CIniFileSettings::valuesOfOtherTypes()
{
    CIniFileSettings& settings = fresh();
    const QUrl url("https://a.example/x?y=1,2#f");
    const QDateTime when(QDate(2024, 5, 6), QTime(7, 8, 9));
    expectCritical("change", "a value of type QVariantMap cannot be stored in the settings file, "
                             "it is left out: extra/map");
    settings.setGroupValues(
        "extra",
        {{"url", url}, {"when", when}, {"map", QVariantMap{{"a", 1}}}, {"size", QSize(3, 4)}});
    settings.setFontSize(14);

    CIniFileSettings& again = fresh();
    const QVariantMap extra = again.getGroupValues("extra");
    QCOMPARE(extra.keys(), QStringList({"size", "url", "when"}));
    QCOMPARE(extra.value("url").toUrl(), url);
    QCOMPARE(extra.value("when"), QVariant(when));
    QCOMPARE(extra.value("size"), QVariant(QSize(3, 4)));
    QCOMPARE(again.getFontSize(), quint32(14));
}

void tst_CIniFileSettings::datesOfOtherWriters_data()
{
    QTest::addColumn<QDateTime>("date");
    QTest::newRow("local time") << QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9, 10));
    QTest::newRow("UTC") << QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC);
    QTest::newRow("offset from UTC")
        << QDateTime(QDate(2030, 12, 31), QTime(23, 59), Qt::OffsetFromUTC, 3600);
    QTest::newRow("no date") << QDateTime();
}

// A date is stored by QSettings behind "@DateTime(": it is read, and the file stays the user's.
void tst_CIniFileSettings::datesOfOtherWriters()
{
    QFETCH(QDateTime, date);
    QVERIFY(writeFile(iniPath(), "[gui]\nfontSize=9\n" + writtenByQSettings("dates/last", date)));
    CIniFileSettings& settings = fresh();
    QCOMPARE(settings.getFontSize(), quint32(9));
    QCOMPARE(settings.getGroupValues("dates").value("last"), QVariant(date));
    settings.setTrayMessages(0);

    QCOMPARE(QDir(QFileInfo(iniPath()).path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"Syncarium.ini"});
    CIniFileSettings& again = fresh();
    QCOMPARE(again.getGroupValues("dates").value("last"), QVariant(date));
    QCOMPARE(again.getTrayMessages(), 0);
    QCOMPARE(again.getFontSize(), quint32(9));
}

void tst_CIniFileSettings::markers_data()
{
    QTest::addColumn<QStringList>("markers");
    QTest::addColumn<bool>("documentsAtTop");
    // Below the test's root; the folders reached from the working directory below its canonical
    // form, since the working directory is a resolved path.
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("spaces");

    const QString normalIni = "home/.config/Syncarium/Syncarium.ini";
    QTest::newRow("none") << QStringList() << false << normalIni
                          << "home/Documents/Syncarium Spaces/";
    QTest::newRow("USB") << QStringList{"USB"} << false << "work/a/b/c/SyncariumData/Syncarium.ini"
                         << "work/a/Syncarium Spaces/";
    QTest::newRow("PORTABLE_APPS")
        << QStringList{"PORTABLE_APPS"} << true << "work/a/Data/Syncarium.ini"
        << "Documents/Syncarium Spaces/";
    QTest::newRow("PORTABLE_APPS without documents")
        << QStringList{"PORTABLE_APPS"} << false << "work/a/Data/Syncarium.ini"
        << "work/Syncarium Spaces/";
    QTest::newRow("both") << QStringList{"USB", "PORTABLE_APPS"} << true
                          << "work/a/Data/Syncarium.ini"
                          << "Documents/Syncarium Spaces/";
}

void tst_CIniFileSettings::markers()
{
    QFETCH(QStringList, markers);
    QFETCH(bool, documentsAtTop);
    QFETCH(QString, ini);
    QFETCH(QString, spaces);

    const QString root = environment->root();
    const QString canonicalRoot = QDir(root).canonicalPath() + '/';
    const QString current = environment->makeDir("work/a/b/c");
    // Four levels above work/a/b/c is the root.
    if (documentsAtTop)
        environment->makeDir("Documents");
    QVERIFY(QDir::setCurrent(current));
    for (const QString& marker : std::as_const(markers))
        QVERIFY(writeFile(current + marker, QByteArray()));
    ini.prepend(ini.startsWith("home/") ? root : canonicalRoot);
    spaces.prepend(spaces.startsWith("home/") ? root : canonicalRoot);

    CIniFileSettings& settings = fresh();
    QCOMPARE(settings.isPortable(), !markers.isEmpty());
    QCOMPARE(settings.isPortableApps(), markers.contains("PORTABLE_APPS"));
    QCOMPARE(settings.iniFilePath(), ini);
    if (!markers.isEmpty())
        QVERIFY(QFileInfo(QFileInfo(ini).path()).isDir());
    settings.setFontSize(20);
    QCOMPARE(QSettings(ini, QSettings::IniFormat).value("gui/fontSize").toInt(), 20);

    if (settings.isPortableApps())
        CExpect::record(QtDebugMsg, "CIniFileSettings.cpp", "CIniFileSettings::getUserSpacePath",
                        "portableAppsUserSpacePath " + spaces);
    QCOMPARE(settings.getUserSpacePath(), spaces);
    QVERIFY(QFileInfo(spaces).isDir());
}

void tst_CIniFileSettings::spacesFolderCannotBeCreated_data()
{
    QTest::addColumn<QString>("documents");
    // Below the home folder, must not exist afterwards.
    QTest::addColumn<QString>("notCreated");

    QTest::newRow("below a file") << "plain.txt/Documents"
                                  << "plain.txt/Documents";
    QTest::newRow("name too long") << "new/deeper/" + QString(300, 'n') << "new";
}

void tst_CIniFileSettings::spacesFolderCannotBeCreated()
{
    QFETCH(QString, documents);
    QFETCH(QString, notCreated);
    const QString home = environment->home();
    QVERIFY(writeFile(home + "plain.txt", "a file"));
    QVERIFY(writeFile(home + ".config/user-dirs.dirs",
                      "XDG_DOCUMENTS_DIR=\"$HOME/" + documents.toUtf8() + "\"\n"));

    CExpect::record(QtDebugMsg, "CIniFileSettings.cpp", "CIniFileSettings::getUserSpacePath",
                    "created the user space folder: false");
    QCOMPARE(fresh().getUserSpacePath(), home + documents + "/Syncarium Spaces/");
    QVERIFY(!QFileInfo::exists(home + notCreated));
}

void tst_CIniFileSettings::damagedFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("damage");
    // Lines QSettings skips (with a format error): reported, and every key read.
    QTest::addColumn<bool>("skipped");

    const QString serialised =
        "the settings file holds a serialised value \\(@Variant, or @DateTime holding other than"
        " a date\\), which is not read; the defaults are used.*";
    QTest::newRow("byte-order mark")
        << QByteArray("\xEF\xBB\xBF[general]\nscannStart=0\n[gui]\nfontSize=9\n") << QString()
        << false;
    QTest::newRow("byte-order mark alone") << QByteArray("\xEF\xBB\xBF") << QString() << false;
    QTest::newRow("byte-order mark before an indented key")
        << QByteArray("\xEF\xBB\xBF\tscannStart=0\n[gui]\nfontSize=9\n") << QString() << false;
    // QSettings reads every key of such files; the lines it skips are no reason to drop them.
    QTest::newRow("comment line")
        << QByteArray("# written by hand\n[general]\nscannStart=0\n[gui]\nfontSize=9\n")
        << QString() << true;
    QTest::newRow("line without equals sign")
        << QByteArray("[general]\nscannStart=0\nthis is no key\n[gui]\nfontSize=9\n") << QString()
        << true;
    QTest::newRow("unclosed section")
        << QByteArray("[general\nscannStart=0\n[gui]\nfontSize=9\n") << QString() << true;
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01", 20) << QString()
                            << true;
    // Decoding it would build a cursor, which ends a program without a GUI.
    QTest::newRow("serialised cursor") << QByteArray("[general]\nscannStart=0\n[communication]\n"
                                                     "ports=@Variant(\\0\\0\\0\\xJ\\0\\0\\0\\x5)\n")
                                       << serialised << false;
    QTest::newRow("cut date")
        << QByteArray("[general]\nscannStart=0\ntrayMessages=@DateTime(\\0\\0\\0\\x10)\n")
        << serialised << false;
    // A date in a named time zone would make Qt open a file of that name.
    QTest::newRow("date in a named time zone")
        << QByteArray("[general]\nscannStart=0\nx=@DateTime(\\0\\0\\0\\x10\\0\\0\\0\\0\\0\\0%"
                      "\\x8b\\xe8\\x3\\x34\\xa6\\xa0\\x3\\0\\0\\0\\x2\\0/)\n")
        << serialised << false;
    // A list of strings claiming a thousand million entries behind the date's marker.
    QTest::newRow("list behind a date's marker")
        << QByteArray("[general]\nscannStart=0\nx=@DateTime(\\0\\0\\0\\v\\0\\x40\\0\\0\\0)\n")
        << serialised << false;
    // A list that claims two thousand million elements.
    QTest::newRow("serialised list, quoted")
        << QByteArray("[general]\nscannStart=0\ntrayMessages=\"@Variant("
                      "\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\"\n")
        << serialised << false;
}

void tst_CIniFileSettings::damagedFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, damage);
    QFETCH(bool, skipped);
    QVERIFY(writeFile(iniPath(), content));
    const QString path = iniPath();
    const bool damaged = !damage.isEmpty();

    if (damaged)
        expectCriticalOnFile("CIniFileSettings", damage);
    if (skipped)
        CExpect::record(QtWarningMsg, "CIniFileSettings.cpp", "CIniFileSettings::CIniFileSettings",
                        "the settings file has lines that are no keys (without \"=\"); they are "
                        "skipped and not kept when a change is saved: " +
                            path);
    CIniFileSettings& settings = fresh();
    const bool hasScanKey = content.contains("scannStart");
    QCOMPARE(settings.getScannStart(), hasScanKey && !damaged ? 0 : 2);
    QCOMPARE(readFile(path), content);

    if (damaged)
        expectCritical("moveDamagedFileAside",
                       "the settings file could not be parsed and was moved aside: " +
                           QRegularExpression::escape(path) + " -> " +
                           QRegularExpression::escape(path) + "\\.damaged-\\d{8}-\\d{6}");
    settings.setTrayMessages(1);

    const QStringList aside =
        QDir(QFileInfo(path).path())
            .entryList({"Syncarium.ini.damaged-*"}, QDir::Files | QDir::Hidden);
    if (damaged) {
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readFile(QFileInfo(path).path() + '/' + aside.first()), content);
        QCOMPARE(QSettings(path, QSettings::IniFormat).allKeys(),
                 QStringList{"General/trayMessages"});
        QCOMPARE(fresh().getTrayMessages(), 1);
    } else {
        QVERIFY(aside.isEmpty());
        CIniFileSettings& again = fresh();
        QCOMPARE(again.getTrayMessages(), 1);
        QCOMPARE(again.getScannStart(), hasScanKey ? 0 : 2);
        QCOMPARE(again.getFontSize(), hasScanKey ? quint32(9) : quint32(11));
    }
}

void tst_CIniFileSettings::skippedLinesKeepEveryKey_data()
{
    QTest::addColumn<QByteArray>("content");
    // Found by fuzzing: a key without a name beside lines without "=".
    QTest::newRow("key without a name") << QByteArray::fromBase64(
        "W0dlbmVyYWxdCnNjYW5uU3RhcnQ9MAo9MgoKc2Nhbm5TdGFydFslR2VuZVtjb21tdW5pY3JhbG1tdW5pY3JhbF0KdXBh"
        "dGRhaW8=");
    QTest::newRow("unclosed section")
        << QByteArray("[gui\nfontSize=9\nno key ; comment\n[a]\nb=1\n");
    QTest::newRow("quoted line break") << QByteArray("[gui]\n\"no\nkey\"\nfontSize=9\n");
}

// Whatever QSettings reads in a file with lines it skips is in the file after a change.
void tst_CIniFileSettings::skippedLinesKeepEveryKey()
{
    QFETCH(QByteArray, content);
    QVERIFY(writeFile(iniPath(), content));
    const auto keysOf = [this](const QByteArray& text) {
        const QString copy = environment->root() + QString("keys-%1.ini").arg(++copies);
        return writeFile(copy, text) ? QSettings(copy, QSettings::IniFormat).allKeys()
                                     : QStringList{"<no copy>"};
    };
    const QStringList before = keysOf(content);
    CIniFileSettings& settings = fresh();
    settings.setGroupValues("added", {{"key", 1}});
    QStringList after = keysOf(readFile(iniPath()));
    QVERIFY2(after.removeAll("added/key") == 1, qPrintable(after.join(' ')));
    QCOMPARE(after, before);
}

void tst_CIniFileSettings::rewriteThatWouldNotReadBack()
{
    // Reads well, but QSettings writes the key with the empty name below "sec/" as a line it
    // then refuses as damage.
    const QByteArray content("[sec\\]\n=9\n[gui]\nfontSize=9\n");
    QVERIFY(writeFile(iniPath(), content));
    CIniFileSettings& settings = fresh();
    QCOMPARE(settings.getFontSize(), quint32(9));

    expectCriticalOnFile("save", "the settings would not read back as written, the file is left as "
                                 "it is and the change is kept for this run only");
    settings.setFontSize(12);
    QCOMPARE(settings.getFontSize(), quint32(12));
    QCOMPARE(readFile(iniPath()), content);
}

void tst_CIniFileSettings::notARegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("found");

    QTest::newRow("FIFO") << QString("fifo") << QString("a FIFO, socket or device");
    QTest::newRow("folder") << QString("folder") << QString("a folder");
    QTest::newRow("link to a device") << QString("device") << QString("a FIFO, socket or device");
}

void tst_CIniFileSettings::notARegularFile()
{
    QFETCH(QString, kind);
    QFETCH(QString, found);
    const QString path = iniPath();
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "folder")
        QVERIFY(QDir().mkdir(path));
    else
        QVERIFY(QFile::link("/dev/null", path));

    expectCriticalOnFile("CIniFileSettings", "the settings path holds " + found +
                                                 " instead of a settings file, the defaults are "
                                                 "used and nothing is saved");
    // Reading a FIFO waits for a writer: without the check this would not return.
    CIniFileSettings& settings = fresh();
    QCOMPARE(settings.getScannStart(), 2);
    settings.setScannStart(0);
    QCOMPARE(settings.getScannStart(), 2);
    QCOMPARE(settings.getPorts(), quint32(3));
    QCOMPARE(settings.getBlocksize(), quint64(256000));
    QNetworkProxy proxy(QNetworkProxy::HttpProxy, "keep");
    QCOMPARE(settings.getProxy(proxy), quint32(QNetworkProxy::NoProxy));
    QCOMPARE(proxy.hostName(), "keep");
    QVERIFY(QFileInfo::exists(path) && !QFileInfo(path).isFile());
    QVERIFY(!QFileInfo::exists(path + ".lock"));
}

void tst_CIniFileSettings::heldLock()
{
    QVERIFY(writeFile(iniPath(), "[gui]\nfontSize=9\n"));
    const QByteArray before = readFile(iniPath());
    CIniFileSettings& settings = fresh();

    const auto holder = startSelf({QCoreApplication::applicationFilePath(), "holdLock"},
                                  {{"SY_TEST_HOLD_SETTINGS_LOCK", iniPath() + ".lock"}});
    QVERIFY(holder->waitForStarted(30000));
    QByteArray output;
    while (!output.contains("holding the lock\n") && holder->waitForReadyRead(30000))
        output += holder->readAll();
    QVERIFY2(output.contains("holding the lock\n"), output.constData());

    // QSettings would wait for this lock without end.
    expectCriticalOnFile("save",
                         "could not lock the settings file within 3000 ms, the change is kept for "
                         "this run only",
                         ".*");
    settings.setScannStart(0);
    QCOMPARE(settings.getScannStart(), 0);
    QCOMPARE(readFile(iniPath()), before);

    holder->closeWriteChannel();
    QVERIFY(holder->waitForFinished(30000));
    QCOMPARE(holder->exitCode(), 0);

    // The kept change goes into the file with the next one.
    settings.setTrayMessages(0);
    CIniFileSettings& again = fresh();
    QCOMPARE(again.getScannStart(), 0);
    QCOMPARE(again.getTrayMessages(), 0);
    QCOMPARE(again.getFontSize(), quint32(9));
}

void tst_CIniFileSettings::holdLock()
{
    const QString path = qEnvironmentVariable("SY_TEST_HOLD_SETTINGS_LOCK");
    if (path.isEmpty())
        QSKIP("runs as the second process of heldLock");
    QLockFile lock(path);
    QVERIFY(lock.tryLock(30000));
    std::fputs("holding the lock\n", stdout);
    std::fflush(stdout);
    QFile input;
    QVERIFY(input.open(stdin, QIODevice::ReadOnly));
    input.readAll();
}

void tst_CIniFileSettings::twoProcessesKeepTheirKeys()
{
    const int writes = 1000;
    // The working copies belong in the runtime folder, in memory on a desktop; on disk every
    // copy would cost the writers a flush to storage.
    std::unique_ptr<QTemporaryDir> runtime;
    if (QFileInfo("/dev/shm").isDir())
        runtime = std::make_unique<QTemporaryDir>("/dev/shm/sy-test-XXXXXX");
    const QString runtimeFolder =
        runtime && runtime->isValid() ? runtime->path() : qEnvironmentVariable("XDG_RUNTIME_DIR");
    std::unique_ptr<QProcess> writers[2];
    const char* const prefixes[] = {"first", "second"};
    for (int i = 0; i < 2; ++i) {
        writers[i] = startSelf({QCoreApplication::applicationFilePath(), "writeKeys"},
                               {{"SY_TEST_WRITE_KEYS", QLatin1String(prefixes[i])},
                                {"SY_TEST_CONFIG_HOME", qEnvironmentVariable("XDG_CONFIG_HOME")},
                                {"SY_TEST_RUNTIME_DIR", runtimeFolder}});
        QVERIFY(writers[i]->waitForStarted(30000));
    }
    for (const auto& writer : writers) {
        QVERIFY(writer->waitForFinished(300000));
        QVERIFY2(writer->exitCode() == 0, writer->readAll().constData());
    }

    QSettings file(iniPath(), QSettings::IniFormat);
    file.beginGroup("stress");
    QCOMPARE(file.childKeys().size(), 2 * writes);
    for (const char* prefix : prefixes) {
        for (int i = 0; i < writes; ++i)
            QCOMPARE(file.value(QLatin1String(prefix) + QString::number(i)).toInt(), i);
    }
}

// The settings are one object for the process: threads may read and change them at once.
void tst_CIniFileSettings::threadsShareTheSettings()
{
    const int threads = 4;
    const int writes = 25;
    CIniFileSettings& settings = fresh();
    std::vector<std::unique_ptr<QThread>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.push_back(std::unique_ptr<QThread>(QThread::create([&settings, t] {
            for (int i = 0; i < writes; ++i) {
                settings.setGroupValues("threads", {{QString("t%1-%2").arg(t).arg(i), i}});
                settings.getFontSize();
                settings.getGroupValues("threads");
            }
        })));
        workers.back()->start();
    }
    for (const auto& worker : workers)
        QVERIFY(worker->wait(120000));
    QCOMPARE(fresh().getGroupValues("threads").size(), threads * writes);
}

void tst_CIniFileSettings::writeKeys()
{
    const QString prefix = qEnvironmentVariable("SY_TEST_WRITE_KEYS");
    if (prefix.isEmpty())
        QSKIP("runs as one of the second processes of twoProcessesKeepTheirKeys");
    qputenv("XDG_CONFIG_HOME", qgetenv("SY_TEST_CONFIG_HOME"));
    qputenv("XDG_RUNTIME_DIR", qgetenv("SY_TEST_RUNTIME_DIR"));
    CIniFileSettings& settings = *CIniFileSettings::instance();
    for (int i = 0; i < 1000; ++i)
        settings.setGroupValues("stress", {{prefix + QString::number(i), i}});
}

void tst_CIniFileSettings::readOnlyFolderAsUser()
{
    if (::geteuid() == 0)
        QSKIP("root writes into a read-only folder; see failedWriteKeepsTheFile");
    const QString folder = QFileInfo(iniPath()).path();
    QVERIFY(writeFile(iniPath(), "[communication]\npollIntervall=7\n"));
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    expectCritical("save", "could not create the lock file of the settings, the change is kept for "
                           "this run only: .*Syncarium\\.ini\\.lock Permission denied");
    CIniFileSettings& settings = fresh();
    settings.setPollIntervall(42);
    QCOMPARE(settings.getPollIntervall(), 42);
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner));
    QCOMPARE(readFile(iniPath()), QByteArray("[communication]\npollIntervall=7\n"));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"Syncarium.ini"});
}

void tst_CIniFileSettings::unreadableFileAsUser()
{
    if (::geteuid() == 0)
        QSKIP("root reads a file without read permission");
    const QByteArray content("[gui]\nfontSize=9\n");
    QVERIFY(writeFile(iniPath(), content));
    QVERIFY(QFile::setPermissions(iniPath(), QFileDevice::WriteOwner));

    expectCriticalOnFile("CIniFileSettings",
                         "could not read the settings file, the defaults are used", ".*");
    CIniFileSettings& settings = fresh();
    QCOMPARE(settings.getFontSize(), quint32(11));
    // Writing what could be read, nothing, would replace the user's file.
    expectCriticalOnFile(
        "save", "could not read the settings file, the change is kept for this run only", ".*");
    settings.setFontSize(12);
    QCOMPARE(settings.getFontSize(), quint32(12));
    QVERIFY(QFile::setPermissions(iniPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(readFile(iniPath()), content);
}

void tst_CIniFileSettings::failedWriteKeepsTheFile_data()
{
    QTest::addColumn<QString>("failure");
    // Also what the file system leaves free: enough for the lock file or not.
    QTest::newRow("full disk") << "full disk";
    // A file that fits in the writer's buffer: only its last flush meets the full disk.
    QTest::newRow("nearly full disk, small file") << "nearly full disk, small file";
    QTest::newRow("no room for the lock file") << "no room for the lock file";
    QTest::newRow("read-only folder") << "read-only folder";
}

void tst_CIniFileSettings::failedWriteKeepsTheFile()
{
    QFETCH(QString, failure);
    if (::geteuid() != 0)
        QSKIP("mounting a file system needs root");
    const auto child =
        startSelf({"unshare", "--mount", "--propagation", "private",
                   QCoreApplication::applicationFilePath(), "failedWriteInNamespace"},
                  {{"SY_TEST_FAILED_WRITE", failure}});
    if (!child->waitForStarted(30000))
        QSKIP("unshare is not available");
    QVERIFY(child->waitForFinished(300000));
    const QByteArray output = child->readAll();
    if (!output.contains("Start testing"))
        QSKIP(qPrintable("no private mount namespace: " + QString::fromLocal8Bit(output)));
    if (output.contains("SKIP   :"))
        QSKIP(qPrintable(QString::fromLocal8Bit(output)));
    QVERIFY2(child->exitCode() == 0, output.constData());
    QVERIFY2(output.contains("PASS   : tst_CIniFileSettings::failedWriteInNamespace()"),
             output.constData());
}

void tst_CIniFileSettings::failedWriteInNamespace()
{
    const QString failure = qEnvironmentVariable("SY_TEST_FAILED_WRITE");
    if (failure.isEmpty())
        QSKIP("runs inside the private mount namespace of failedWriteKeepsTheFile");
    const QString folder = QFileInfo(iniPath()).path();
    QVERIFY(QDir().mkpath(folder));
    const auto run = [](const QStringList& command) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(command.first(), command.mid(1));
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    };

    // More than the room left, but for the small file less than the writer's buffer.
    const int keys = failure == "nearly full disk, small file" ? 250 : 2000;
    QByteArray content("[many]\n");
    for (int i = 0; i < keys; ++i)
        content += "key" + QByteArray::number(i) + "=value number " + QByteArray::number(i) + '\n';
    const QString kept = ", the change is kept for this run only: ";
    if (failure != "read-only folder") {
        if (!run({"mount", "-t", "tmpfs", "-o", "size=256k", "none", folder}))
            QSKIP("could not mount a tmpfs");
        QVERIFY(writeFile(iniPath(), content));
        QFile filler(folder + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        if (failure == "no room for the lock file") {
            expectCritical("save", "could not create the lock file of the settings" + kept +
                                       QRegularExpression::escape(iniPath()) +
                                       "\\.lock No space left on device");
        } else {
            // Room for the lock file, not for a new copy of the settings.
            QVERIFY(filler.resize(filler.size() - 2 * 4096));
            expectCritical("save", "could not write the settings file, the previous file is "
                                   "kept and the change is kept for this run only: " +
                                       QRegularExpression::escape(iniPath()) +
                                       " No space left on device");
        }
    } else {
        QVERIFY(writeFile(iniPath(), content));
        if (!run({"mount", "--bind", folder, folder}) ||
            !run({"mount", "-o", "remount,bind,ro", folder, folder}))
            QSKIP("could not mount the folder read-only");
        expectCritical("save", "could not create the lock file of the settings" + kept +
                                   QRegularExpression::escape(iniPath()) +
                                   "\\.lock Read-only file system");
    }

    CIniFileSettings& settings = fresh();
    QCOMPARE(settings.getPollIntervall(), 300);
    settings.setPollIntervall(42);
    QCOMPARE(settings.getPollIntervall(), 42);
    QCOMPARE(readFile(iniPath()), content);
    QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    left.sort();
    const QStringList expected = failure == "read-only folder"
                                     ? QStringList{"Syncarium.ini"}
                                     : QStringList{"Syncarium.ini", "filler"};
    QCOMPARE(left, expected);
}

QTEST_GUILESS_MAIN(tst_CIniFileSettings)
#include "tst_CIniFileSettings.moc"
