// The settings' named keys, read and written through their accessors; TKey is one row of the
// cases' own table of them.
#include "IniFile/settings/CIniFileSettings.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "common/CTestThreads.h"
#include "common/CTestTree.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <algorithm>
#include <functional>
#include <type_traits>

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

// An ini file in which key ("group/name") holds text.
QByteArray iniWith(const QString& key, const QString& text)
{
    return QString("[%1]\n%2=%3\n").arg(key.section('/', 0, 0), key.section('/', 1), text).toUtf8();
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

} // namespace

class tst_CIniFileSettings : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void plainKeys_data();
    void plainKeys();
    void wrongTypes_data();
    void wrongTypes();
    void repairKeys_data();
    void repairKeys();
    void derivedKeys();
    void proxy();
    void groups();
    void markers_data();
    void markers();
    void spacesFolderCannotBeCreated_data();
    void spacesFolderCannotBeCreated();

    void threadsShareTheSettings();
    void noSettingsFile();
    void keptChangesKeepTheirTypes();

private:
    QString iniPath() const { return environment->home() + ".config/Syncarium/Syncarium.ini"; }
    CIniFileSettings& fresh()
    {
        CIniFileSettings::destroy();
        return *CIniFileSettings::instance();
    }
    // What an independent reader finds in the file under key.
    QVariant stored(const QString& key);

    int copies = 0;
};

void tst_CIniFileSettings::cleanup()
{
    CIniFileSettings::destroy();
}

QVariant tst_CIniFileSettings::stored(const QString& key)
{
    // A path of its own each time: QSettings keeps the files it read in a per-process cache.
    const QString copy = dir + QString("reader-%1.ini").arg(++copies);
    if (!CTestTree::write(copy, CTestTree::content(iniPath())))
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
    QVERIFY(CTestTree::write(iniPath(), QByteArray()));

    QCOMPARE(key.get(fresh()), key.defaultValue);
    QCOMPARE(CTestTree::content(iniPath()), QByteArray());

    if (key.set)
        key.set(*CIniFileSettings::instance(), key.written);
    else
        QSettings(iniPath(), QSettings::IniFormat).setValue(name, key.written);
    QCOMPARE(key.get(fresh()), key.written);
    QCOMPARE(stored(name).toString(), key.written.toString());
}

void tst_CIniFileSettings::wrongTypes_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("key");
    const auto row = [](const char* tag, const QString& key, const QString& text) {
        QTest::newRow(tag) << iniWith(key, text) << key;
    };
    row("text for a check state", "general/scannStart", "abc");
    row("number 7 for a flag", "gui/showInFileSys", "7");
    row("list for a flag", "general/online", "false, false");
    row("text for a size", "archiv/archivCacheSize", "big");
    row("negative unsigned", "gui/fontSize", "-3");
    row("unsigned beyond 32 bits", "archiv/archivCacheCleanupInterval", "4294967296");
    row("list for a number", "communication/pollIntervall", "1, 2");
    row("typed value for a text", "communication/updateUrl", "@Rect(1 2 3 4)");
}

void tst_CIniFileSettings::wrongTypes()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, key);
    QVERIFY(CTestTree::write(iniPath(), ini));
    const auto entry = std::find_if(keyTable().cbegin(), keyTable().cend(),
                                    [&](const TKey& known) { return key == known.key; });
    QVERIFY(entry != keyTable().cend());
    QCOMPARE(entry->get(fresh()), entry->defaultValue);
    QCOMPARE(CTestTree::content(iniPath()), ini);
}

void tst_CIniFileSettings::repairKeys_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("key");
    // Empty for a getter that must not write.
    QTest::addColumn<QString>("storedAfter");
    // No text: the file is empty.
    const auto row = [](const char* tag, const QString& key, const char* text,
                        const char* storedAfter) {
        QTest::newRow(tag) << (text ? iniWith(key, text) : QByteArray()) << key
                           << QString(storedAfter);
    };
    row("ports 0", "communication/ports", "0", "3");
    row("ports 5", "communication/ports", "5", "");
    row("cachable false", "communication/cachable", "false", "true");
    row("cachable true", "communication/cachable", "true", "");
    row("timeout 0", "communication/timeout", "0", "60000");
    row("timeout beyond 32 bits", "communication/timeout", "10000000000", "");
    row("blocksize 1000", "communication/blocksize", "1000", "256000");
    row("blocksize 256000", "communication/blocksize", "256000", "");
    row("pingurl empty", "communication/pingurl", "", "ping");
    row("pingurl set", "communication/pingurl", "https://p.example/ping.xml", "");
    row("hosts missing", "webdav/hosts", nullptr, "empty list");
    row("hosts empty text", "webdav/hosts", "", "empty list");
    row("hosts empty list", "webdav/hosts", "@Invalid()", "");
    row("hosts two", "webdav/hosts", "a.example, b.example", "");
}

void tst_CIniFileSettings::repairKeys()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, key);
    QFETCH(QString, storedAfter);
    QVERIFY(CTestTree::write(iniPath(), ini));
    const QRegularExpression ping("^https://[^/]+/ping\\.xml$");

    using C = CIniFileSettings;
    const QMap<QString, std::function<QString(C&)>> getters = {
        {"communication/ports", [](C& s) { return QString::number(s.getPorts()); }},
        {"communication/cachable", [](C& s) { return QVariant(s.getCachable()).toString(); }},
        {"communication/timeout", [](C& s) { return QString::number(s.getTimeout()); }},
        {"communication/blocksize", [](C& s) { return QString::number(s.getBlocksize()); }},
        {"communication/pingurl", [](C& s) { return s.getPingurl(); }},
        {"webdav/hosts", [](C& s) { return s.getWebdavHosts().join('|'); }}};
    QVERIFY(getters.contains(key));
    const QString read = getters.value(key)(fresh());

    if (storedAfter.isEmpty()) {
        QCOMPARE(CTestTree::content(iniPath()), ini);
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

    settings.setDepotFilesPath("/depot");
    QVERIFY(!settings.isCustomPathsSet());
    settings.setPSSFilesPath("/pss");
    QVERIFY(settings.isCustomPathsSet());
    settings.setDepotFilesPath(QString());
    QVERIFY(!settings.isCustomPathsSet());
    QVERIFY(!QSettings(iniPath(), QSettings::IniFormat).contains("paths/depotFilesPath"));

    // The repairing keys' setters write what they are given, also below the repair bound, which
    // the next read repairs (see repairKeys).
    CIniFileSettings::instance()->setPorts(9);
    QCOMPARE(fresh().getPorts(), quint32(9));
    CIniFileSettings::instance()->setBlocksize(1000);
    QCOMPARE(stored("communication/blocksize").toString(), "1000");

    const QString spaces = environment->home() + "Documents/Syncarium Spaces/";
    QCOMPARE(fresh().getDefaultSpacesFolder(), spaces);
    QVERIFY(QFileInfo(spaces).isDir());
    QCOMPARE(stored("paths/defaultSpacesFolder").toString(), spaces);
    CIniFileSettings::instance()->setDefaultSpacesFolder("/elsewhere/");
    QCOMPARE(fresh().getDefaultSpacesFolder(), "/elsewhere/");
}

// User and password are stored encoded, whatever their characters: the code takes no other
// path for ASCII or empty ones.
void tst_CIniFileSettings::proxy()
{
    const QString user = "山田太郎";
    const QString password = "密码🔑";
    QNetworkProxy none(QNetworkProxy::HttpProxy, "proxy.example", 1);
    QCOMPARE(fresh().getProxy(none), quint32(0));
    QCOMPARE(none.type(), QNetworkProxy::NoProxy);

    const QNetworkProxy written(QNetworkProxy::Socks5Proxy, "proxy.example", 3128, user, password);
    CIniFileSettings::instance()->setProxy(written, 3);
    const QByteArray file = CTestTree::content(iniPath());
    QVERIFY(file.contains("[ProxySettings]"));
    QCOMPARE(stored("ProxySettings/UserName").toString(),
             QString::fromLatin1(user.toUtf8().toBase64()));
    QVERIFY(!file.contains(password.toUtf8()));

    // The type read back is the number stored with the proxy, not the proxy's own.
    QNetworkProxy read;
    QCOMPARE(fresh().getProxy(read), quint32(3));
    QCOMPARE(read, QNetworkProxy(QNetworkProxy::HttpProxy, "proxy.example", 3128, user, password));

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

void tst_CIniFileSettings::markers_data()
{
    QTest::addColumn<QStringList>("markers");
    QTest::addColumn<bool>("documentsAtTop");
    // Below the test's root; the folders reached from the working directory below its canonical
    // form, since the working directory is a resolved path.
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("spaces");

    const auto row = [](const char* tag, const QStringList& markers, bool documentsAtTop,
                        const char* ini, const char* spaces) {
        QTest::newRow(tag) << markers << documentsAtTop << QString(ini) << QString(spaces);
    };
    const char* const portableIni = "work/a/Data/Syncarium.ini";
    row("none", {}, false, "home/.config/Syncarium/Syncarium.ini",
        "home/Documents/Syncarium Spaces/");
    row("USB", {"USB"}, false, "work/a/b/c/SyncariumData/Syncarium.ini",
        "work/a/Syncarium Spaces/");
    row("PORTABLE_APPS", {"PORTABLE_APPS"}, true, portableIni, "Documents/Syncarium Spaces/");
    row("PORTABLE_APPS without documents", {"PORTABLE_APPS"}, false, portableIni,
        "work/Syncarium Spaces/");
}

void tst_CIniFileSettings::markers()
{
    QFETCH(QStringList, markers);
    QFETCH(bool, documentsAtTop);
    QFETCH(QString, ini);
    QFETCH(QString, spaces);

    const QString root = dir;
    const QString canonicalRoot = QDir(root).canonicalPath() + '/';
    const QString current = environment->makeDir("work/a/b/c");
    // Four levels above work/a/b/c is the root.
    if (documentsAtTop)
        environment->makeDir("Documents");
    QVERIFY(QDir::setCurrent(current));
    for (const QString& marker : std::as_const(markers))
        QVERIFY(CTestTree::write(current + marker, QByteArray()));
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
    QVERIFY(CTestTree::write(home + "plain.txt", "a file"));
    QVERIFY(CTestTree::write(home + ".config/user-dirs.dirs",
                             "XDG_DOCUMENTS_DIR=\"$HOME/" + documents.toUtf8() + "\"\n"));

    CExpect::record(QtDebugMsg, "CIniFileSettings.cpp", "CIniFileSettings::getUserSpacePath",
                    "created the user space folder: false");
    QCOMPARE(fresh().getUserSpacePath(), home + documents + "/Syncarium Spaces/");
    QVERIFY(!QFileInfo::exists(home + notCreated));
}

// The settings are one object for the process: threads may read and change them at once.
void tst_CIniFileSettings::threadsShareTheSettings()
{
    const int threads = 4;
    const int writes = 25;
    CIniFileSettings& settings = fresh();
    QVERIFY(runOnThreads(
        threads,
        [&settings](int t) {
            for (int i = 0; i < writes; ++i) {
                settings.setGroupValues("threads", {{QString("t%1-%2").arg(t).arg(i), i}});
                settings.getFontSize();
                settings.getGroupValues("threads");
            }
        },
        120000));
    QCOMPARE(fresh().getGroupValues("threads").size(), threads * writes);
}

// A path that holds no settings file gives the defaults, and changes are not kept.
void tst_CIniFileSettings::noSettingsFile()
{
    QVERIFY(QDir().mkpath(iniPath()));
    CExpect::record(QtCriticalMsg, "CIniFileGuard.cpp", "CIniFileGuard::CIniFileGuard",
                    "the settings path holds a folder instead of a settings file, the defaults are "
                    "used and nothing is saved: " +
                        iniPath());
    CIniFileSettings& settings = fresh();
    settings.setScannStart(0);
    QCOMPARE(settings.getScannStart(), 2);
    QVERIFY(QFileInfo(iniPath()).isDir() && !QFileInfo::exists(iniPath() + ".lock"));
    QCOMPARE(settings.getPorts(), quint32(3));
    QNetworkProxy proxy(QNetworkProxy::HttpProxy, "keep");
    QCOMPARE(settings.getProxy(proxy), quint32(QNetworkProxy::NoProxy));
    QCOMPARE(proxy.hostName(), "keep");
}

// What this run keeps while the file cannot take it is read as the type it was given.
void tst_CIniFileSettings::keptChangesKeepTheirTypes()
{
    // QSettings would write the key with the empty name below "sec/" as a line it then refuses:
    // every save fails, the file is left as it is, and the changes stay in this run only.
    const QByteArray content = "[sec\\]\n=9\n";
    QVERIFY(CTestTree::write(iniPath(), content));
    CIniFileSettings& settings = fresh();
    const auto expectKept = [this] {
        CExpect::record(QtCriticalMsg, "CIniFileGuard.cpp", "CIniFileGuard::save",
                        "the settings would not read back as written, the file is left as it is "
                        "and the change is kept for this run only: " +
                            iniPath());
    };
    const auto set = [&](const QString& group, const QVariantMap& values) {
        expectKept();
        settings.setGroupValues(group, values);
    };
    set("communication", {{"pollIntervall", quint64(60)},
                          {"timeout", 7},
                          {"updateUrl", 5},
                          {"pingurl", true},
                          {"ports", qint64(9)},
                          {"blocksize", quint64(300000)}});
    set("gui", {{"fontSize", -3}, {"showInFileSys", 0}});
    set("archiv", {{"archivCacheSize", qint64(1) << 40},
                   {"archivCacheCleanupInterval", quint32(7)},
                   {"archivCacheEnabled", 7}});
    set("general", {{"scannStart", 0}, {"portableAppsUserSpacePath", "../Spaces"}});
    QCOMPARE(settings.getPollIntervall(), 60);
    QCOMPARE(settings.getTimeout(), quint64(7));
    QCOMPARE(settings.getUpdateUrl(), "5");
    QCOMPARE(settings.getPingurl(), "true");
    QCOMPARE(settings.getPorts(), quint32(9));
    QCOMPARE(settings.getBlocksize(), quint64(300000));
    QCOMPARE(settings.getFontSize(), quint32(11));
    QVERIFY(!settings.getShowInFileSys());
    QCOMPARE(settings.getArchivCacheSize(), qint64(1) << 40);
    QCOMPARE(settings.getArchivCacheCleanupInterval(), quint32(7));
    QVERIFY(settings.getArchivCacheEnabled());
    QCOMPARE(settings.getScannStart(), 0);
    QCOMPARE(settings.getPortableAppsUserSpacePath(), "../Spaces");
    expectKept();
    settings.removeKey("general/scannStart");
    QCOMPARE(settings.getScannStart(), 2);
    QCOMPARE(CTestTree::content(iniPath()), content);
}

QTEST_GUILESS_MAIN(tst_CIniFileSettings)
#include "tst_CIniFileSettings.moc"
