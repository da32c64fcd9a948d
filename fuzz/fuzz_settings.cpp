// The input is the client's ini file. CIniFileSettings reads every key from it (the repairing
// getters write theirs back). Whatever the file holds, nothing may crash or hang, and the user's
// data may not be lost: a file holding a serialised object is moved aside byte for byte, and any
// other keeps every key QSettings reads in it.

#include "IniFile/settings/CIniFileSettings.h"
#include "iniText/CSerialisedValueCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QSettings>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void finding(const QString& what)
{
    std::fprintf(stderr, "==FINDING== %s\n", qPrintable(what));
    std::fflush(stderr);
    std::abort();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Below TMPDIR when it is set, else in memory where the system offers it: the repairing getters
// write, and each write is flushed to storage. libFuzzer ends with _Exit, so the folder stays.
QString sandboxTemplate()
{
    const QString memory = QStringLiteral("/dev/shm");
    const bool inMemory = !qEnvironmentVariableIsSet("TMPDIR") && QFileInfo(memory).isDir() &&
                          QFileInfo(memory).isWritable();
    return (inMemory ? memory : QDir::tempPath()) + QStringLiteral("/sy-fuzz-settings-XXXXXX");
}

// HOME and the XDG folders in one temporary folder; the working directory stays as it is, since
// libFuzzer writes its findings relative to it.
struct TSandbox
{
    TSandbox() : root(sandboxTemplate())
    {
        if (!root.isValid())
            finding(QStringLiteral("no temporary folder"));
        const QString home = root.path() + QStringLiteral("/home");
        folder = home + QStringLiteral("/.config/Syncarium");
        ini = folder + QStringLiteral("/Syncarium.ini");
        const QString runtime = root.path() + QStringLiteral("/runtime");
        if (!QDir().mkpath(folder) || !QDir().mkpath(runtime) ||
            !QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner))
            finding(QStringLiteral("could not prepare ") + root.path());
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        qputenv("TMPDIR", QFile::encodeName(runtime));
    }

    QTemporaryDir root;
    QString folder;
    QString ini;
    int copies = 0;
};

TSandbox& sandbox()
{
    static TSandbox instance;
    return instance;
}

// Keys as QSettings parses content, read through a file name never used before: QSettings
// keeps every file it read in a per-process cache.
QStringList keysOf(const QByteArray& content)
{
    TSandbox& box = sandbox();
    const QString copy = box.root.path() + QStringLiteral("/copy-%1.ini").arg(++box.copies);
    if (!writeFile(copy, content))
        finding(QStringLiteral("could not write ") + copy);
    QStringList keys;
    {
        QSettings settings(copy, QSettings::IniFormat);
        // A key as parsed may hold empty groups ("/x" below a section "[]"), which any write
        // drops: compare the keys as QSettings addresses them.
        const QStringList parsed = settings.allKeys();
        for (const QString& key : parsed) {
            QString plain = key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
            // The settings keep the general group's keys under "General", the spelling QSettings
            // reads back, whatever case the file gave the group.
            if (plain.section(QLatin1Char('/'), 0, 0).compare(QLatin1String("general"),
                                                               Qt::CaseInsensitive) == 0)
                plain.replace(0, 7, QStringLiteral("General"));
            keys.append(plain);
        }
    }
    QFile::remove(copy);
    return keys;
}

void readEverything(CIniFileSettings& settings)
{
    settings.getScannStart();
    settings.getScanOnFailure();
    settings.getAlwaysCreateVersionForReplacedFiles();
    settings.getAutoStart();
    settings.getTrayMessages();
    settings.getShowWelcome();
    settings.getUpdateCheck();
    settings.getOnline();
    settings.getStartGUI();
    settings.getBackupDBAtStartUp();
    settings.getBackupDBAtRevisionUpdate();
    settings.getCheckForMultipleDataBaseXTRs();
    settings.getCheckNetworkState();
    settings.getPortableAppsUserSpacePath();
    settings.getDefaultAccessKey(QStringLiteral("%1"), QStringLiteral("%2"));
    settings.getDefaultArchivGroup();
    settings.getDepotFilesPath();
    settings.getPSSFilesPath();
    settings.isCustomPathsSet();
    settings.getArchivCacheSize();
    settings.getArchivCacheEnabled();
    settings.getArchivCacheCleanupInterval();
    settings.getPollIntervall();
    settings.getVersionExpired();
    settings.getUpdateUrl();
    settings.getParseSY1LogStrict();
    settings.getStartDBWithPort();
    settings.getAutoAcceptInvitations();
    settings.getDlgStopAtPathToLong();
    settings.getDlgDlgPathWarning();
    settings.getShowInFileSys();
    settings.getFontSize();
    settings.getSyncStopOnFailure();
    settings.getSyncShowPathWarning();
    QNetworkProxy proxy;
    settings.getProxy(proxy);
    settings.getUserProfile();
    settings.getSideWindows();
    QString widget;
    settings.getSideWindow(QStringLiteral("Left"), widget);
    settings.getGroupValues(QStringLiteral("general"));
    // The repairing getters last: they write.
    settings.getPorts();
    settings.getCachable();
    settings.getTimeout();
    settings.getBlocksize();
    settings.getPingurl();
    settings.getWebdavHosts();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Every refused input is logged; millions of lines would only slow the fuzzer down.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    sandbox();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TSandbox& box = sandbox();
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (!QDir(box.folder).removeRecursively() || !QDir().mkpath(box.folder) ||
        !writeFile(box.ini, input))
        finding(QStringLiteral("could not write ") + box.ini);

    readEverything(*CIniFileSettings::instance());
    CIniFileSettings::destroy();

    const QStringList aside =
        QDir(box.folder)
            .entryList({QStringLiteral("Syncarium.ini.damaged-*")}, QDir::Files | QDir::Hidden);
    if (!aside.isEmpty()) {
        if (aside.size() != 1 || readFile(box.folder + QLatin1Char('/') + aside.first()) != input)
            finding(QStringLiteral("the damaged file was not kept as it was"));
    }
    // The settings read a file without its byte-order mark, which QSettings would take for
    // part of the first key, and with it any tab or space the line starts with.
    const auto withoutMark = [](const QByteArray& content) {
        return content.startsWith("\xEF\xBB\xBF") ? content.mid(3) : content;
    };
    // A file moved aside for a serialised value gives up its keys; one that is only copied
    // before it is replaced keeps them.
    QByteArray plain = withoutMark(input);
    CSerialisedValueCheck::setPlainValuesAside(plain, "plain-value-");
    if (!aside.isEmpty() && CSerialisedValueCheck::mayHoldSerialisedValue(plain))
        return 0;
    const QStringList before = keysOf(withoutMark(input));
    const QStringList after = keysOf(withoutMark(readFile(box.ini)));
    for (const QString& key : before) {
        if (!after.contains(key))
            finding(QStringLiteral("the key ") + key + QStringLiteral(" was lost"));
    }
    return 0;
}
