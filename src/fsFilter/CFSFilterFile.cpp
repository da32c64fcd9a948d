#include "fsFilter/CFSFilterFile.h"

#include "iniText/CIniWrittenText.h"
#include "iniText/CSerialisedValueCheck.h"
#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <utility>

namespace {

struct CModuleKey
{
    quint32 bit;
    const char* key;
};

const CModuleKey moduleKeys[] = {{CFSFilter::Watcher, "watcher"},
                                 {CFSFilter::Scanner, "scanner"},
                                 {CFSFilter::Archiver, "archiver"},
                                 {CFSFilter::Synchronizer, "synchronizer"},
                                 {CFSFilter::RuleEngine, "ruleEngine"},
                                 {CFSFilter::MessageBuilder, "messageBuilder"},
                                 {CFSFilter::CopyController, "copyController"}};

struct CCategoryKeys
{
    CFSFilter::TCategory category;
    const char* group;
    const char* element;
    CFSFilter::TSettings (CFSFilter::*list)(quint32) const;
};

const CCategoryKeys categoryKeys[] = {
    {CFSFilter::Directories, "directories", "directory", &CFSFilter::excludesDirectory},
    {CFSFilter::Files, "files", "file", &CFSFilter::excludesFile},
    {CFSFilter::Paths, "paths", "path", &CFSFilter::excludesPath},
    {CFSFilter::FileTypes, "fileTypes", "fileType", &CFSFilter::excludesFileType},
    {CFSFilter::NamePrefixes, "namePrefixes", "namePrefix", &CFSFilter::excludesNamePrefix},
    {CFSFilter::NameSuffixes, "nameSuffixes", "nameSuffix", &CFSFilter::excludesNameSuffix},
    {CFSFilter::DirPatterns, "dirPatterns", "dirPattern", &CFSFilter::excludesDirPattern},
    {CFSFilter::FilePatterns, "filePatterns", "filePattern", &CFSFilter::excludesFilePattern},
    {CFSFilter::PathPatterns, "pathPatterns", "pathPattern", &CFSFilter::excludesPathPattern}};

const quint32 allModules = 0x7F;

// A filter file is a few kilobytes; anything far larger is not one.
const qint64 maxFileSize = 64 * 1024 * 1024;

// An absent key reads as 0; a present one must be a decimal unsigned 32-bit number.
bool readUnsigned(const QSettings& settings, const QString& key, quint32& number)
{
    number = 0;
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return true;
    bool ok = false;
    number = value.toString().trimmed().toUInt(&ok);
    if (!ok)
        number = 0;
    return ok;
}

// A key as the file's line spells it: the settings give its levels with "/".
QString lineKey(QString key)
{
    return key.replace(QLatin1Char('/'), QLatin1Char('\\'));
}

bool isModuleKey(const QString& key)
{
    return std::any_of(
        std::begin(moduleKeys), std::end(moduleKeys),
        [&key](const CModuleKey& module) { return key == QLatin1String(module.key); });
}

// "excludes/size" and "excludes/<n>/<key>" with n a positive number and key one of the element's.
bool isArrayKey(const QString& key, const CCategoryKeys& category)
{
    const QStringList levels = key.split(QLatin1Char('/'));
    if (levels.first() != QLatin1String("excludes"))
        return false;
    if (levels.size() == 2)
        return levels.at(1) == QLatin1String("size");
    bool ok = false;
    return levels.size() == 3 && levels.at(1).toUInt(&ok) > 0 && ok &&
           (levels.at(2) == QLatin1String(category.element) ||
            levels.at(2) == QLatin1String("modules") || levels.at(2) == QLatin1String("type"));
}

// The element positions of the array the settings are in, in ascending order: only those the
// file holds, so that a size entry that lies costs nothing.
QList<int> elementIndexes(const QSettings& settings, int size)
{
    QList<int> indexes;
    const QStringList groups = settings.childGroups();
    for (const QString& group : groups) {
        bool ok = false;
        const int index = group.toInt(&ok);
        if (ok && index >= 1 && index <= size)
            indexes.append(index);
    }
    std::sort(indexes.begin(), indexes.end());
    return indexes;
}

// Whether the file at fileName is one to read rules from; when not, a critical record says why.
bool isReadable(const CCallSiteRecord& syCallSite, const QString& fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists()) {
        SY_CRITICAL << "Error loading file system filter file:" << fileName << "not found.";
        return false;
    }
    // A FIFO or a device at the path would block or never end; only a regular file is opened.
    if (!info.isFile()) {
        SY_CRITICAL << "Error loading file system filter file:" << fileName
                    << "is not a regular file.";
        return false;
    }
    if (info.size() > maxFileSize) {
        SY_CRITICAL << "Error loading file system filter file:" << fileName
                    << "is too large:" << info.size() << "bytes.";
        return false;
    }
    // QSettings reads an unreadable file as an empty one; that must not pass for "no rules".
    QFile probe(fileName);
    const QByteArray content =
        probe.open(QIODevice::ReadOnly) ? probe.read(maxFileSize + 1) : QByteArray();
    if (probe.error() != QFileDevice::NoError) {
        SY_CRITICAL << "Error loading file system filter file:" << fileName
                    << "could not be read:" << probe.errorString();
        return false;
    }
    if (CSerialisedValueCheck::mayHoldSerialisedValue(content)) {
        SY_CRITICAL << "Error loading file system filter file:" << fileName
                    << "holds a serialised value (@Variant or @DateTime), which is not read.";
        return false;
    }
    return true;
}

void readOptions(const CCallSiteRecord& syCallSite, QSettings& settings, CFSPlatformFilter& filter)
{
    settings.beginGroup(QStringLiteral("options"));
    for (const CModuleKey& module : moduleKeys) {
        quint32 options = 0;
        if (!readUnsigned(settings, QLatin1String(module.key), options))
            SY_WARNING << "option" << module.key << "is not an unsigned number; skipped";
        else if (options != 0)
            filter.addModuleOptions(module.bit, options);
    }
    settings.endGroup();
}

// Adds the rule of the array element the settings are at; one that is not whole is skipped.
void readElement(const CCallSiteRecord& syCallSite, QSettings& settings,
                 const CCategoryKeys& category, int index, CFSPlatformFilter& filter)
{
    QStringList items{settings.value(QLatin1String(category.element)).toString()};
    if (CIniWrittenText::dropMarksLostOnSave(items) > 0)
        SY_WARNING << "element" << index << "of" << category.group
                   << "starts with a byte order mark (U+FEFF), which a save would not"
                      " keep; it is dropped";
    const QString& value = items.first();
    quint32 modules = 0;
    quint32 type = 0;
    const bool numbers = readUnsigned(settings, QStringLiteral("modules"), modules) &&
                         readUnsigned(settings, QStringLiteral("type"), type);
    const char* const reason = !numbers          ? "modules or type is not an unsigned number"
                               : value.isEmpty() ? "empty value"
                               : (modules & allModules) == 0 ? "no module"
                               : type == 0                   ? "type 0"
                                                             : nullptr;
    if (reason) {
        SY_WARNING << "element" << index << "of" << category.group << "skipped:" << reason;
        return;
    }
    const CFSFilterSetting setting = CFSFilter::makeSetting(category.category, type, value);
    if (!setting.isValid()) {
        SY_WARNING << "element" << index << "of" << category.group << "skipped: invalid pattern"
                   << setting.errorString();
        return;
    }
    if (modules & ~allModules) {
        SY_WARNING << "element" << index << "of" << category.group
                   << "names unknown modules; they are ignored";
    }
    for (const CModuleKey& module : moduleKeys) {
        if (modules & module.bit)
            filter.addExclude(category.category, module.bit, setting);
    }
}

} // namespace

CFSFilterFile::CFSFilterFile(const QString& fileName)
    : m_fileName(fileName), filter(std::make_unique<CFSPlatformFilter>())
{}

CFSFilterFile::~CFSFilterFile() = default;

bool CFSFilterFile::load()
{
    SY_FUNCTION("CFSFilterFile::load");
    if (m_fileName.isEmpty()) {
        SY_CRITICAL << "Error no filter file specified.";
        return false;
    }
    if (!isReadable(syCallSite, m_fileName))
        return false;
    QSettings settings(m_fileName, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        SY_WARNING << "filter file" << m_fileName << "is not well formed; reading what it holds";
    if (!filter)
        filter = std::make_unique<CFSPlatformFilter>();
    warnAboutUnknownKeys(settings);
    readOptions(syCallSite, settings, *filter);
    for (const CCategoryKeys& category : categoryKeys) {
        settings.beginGroup(QLatin1String(category.group));
        const int size = settings.beginReadArray(QStringLiteral("excludes"));
        const QList<int> indexes = elementIndexes(settings, size);
        if (size != indexes.size() || settings.childGroups().size() != indexes.size()) {
            SY_WARNING << "array" << category.group << "says it holds" << size
                       << "elements; reading the" << indexes.size() << "it holds in that range";
        }
        for (const int index : indexes) {
            settings.setArrayIndex(index - 1);
            readElement(syCallSite, settings, category, index, *filter);
        }
        settings.endArray();
        settings.endGroup();
    }
    return true;
}

bool CFSFilterFile::save(bool overwrite)
{
    SY_FUNCTION("CFSFilterFile::save");
    if (!filter) {
        SY_CRITICAL << "Error no data supplied.";
        return false;
    }
    if (m_fileName.isEmpty()) {
        SY_CRITICAL << "Error no filter file specified.";
        return false;
    }
    const QFileInfo info(m_fileName);
    if (!overwrite && (info.exists() || info.isSymLink())) {
        SY_CRITICAL << "Error filter file already exists:" << m_fileName;
        return false;
    }

    // QSettings writes the text into a scratch folder; the file itself is replaced in one step
    // by QSaveFile, so a failed write leaves the old file whole.
    const QTemporaryDir scratch;
    if (!scratch.isValid()) {
        SY_CRITICAL << "Error writing filter file:" << m_fileName
                    << "no scratch folder:" << scratch.errorString();
        return false;
    }
    const QString scratchFile = scratch.filePath(QStringLiteral("filter.ini"));
    {
        QSettings settings(scratchFile, QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("options"));
        for (const CModuleKey& module : moduleKeys)
            settings.setValue(QLatin1String(module.key), filter->moduleOptions(module.bit));
        settings.endGroup();
        for (const CCategoryKeys& category : categoryKeys) {
            // One element per distinct (value, type), with the modules that hold it merged.
            std::map<std::pair<QString, quint32>, quint32> merged;
            for (const CModuleKey& module : moduleKeys) {
                const CFSFilter::TSettings settingsOfModule =
                    (filter.get()->*category.list)(module.bit);
                for (const CFSFilterSetting& setting : settingsOfModule)
                    merged[{setting.value, setting.type}] |= module.bit;
            }
            settings.beginGroup(QLatin1String(category.group));
            settings.beginWriteArray(QStringLiteral("excludes"), int(merged.size()));
            int index = 0;
            for (const auto& [key, modules] : merged) {
                settings.setArrayIndex(index++);
                settings.setValue(QLatin1String(category.element), key.first);
                settings.setValue(QStringLiteral("modules"), modules);
                settings.setValue(QStringLiteral("type"), key.second);
            }
            settings.endArray();
            settings.endGroup();
        }
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            SY_CRITICAL << "Error writing filter file:" << m_fileName
                        << "the settings could not be written";
            return false;
        }
    }
    QFile text(scratchFile);
    if (!text.open(QIODevice::ReadOnly)) {
        SY_CRITICAL << "Error writing filter file:" << m_fileName << text.errorString();
        return false;
    }
    const QByteArray content = text.readAll();
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder)) {
        SY_CRITICAL << "Error writing filter file:" << m_fileName << "could not create" << folder;
        return false;
    }
    QSaveFile file(m_fileName);
    // commit() has been seen to report success after its own flush failed on a full disk.
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.flush() || !file.commit()) {
        SY_CRITICAL << "Error writing filter file:" << m_fileName << file.errorString();
        return false;
    }
    return true;
}

std::unique_ptr<CFSPlatformFilter> CFSFilterFile::getFilter() const
{
    return filter ? std::make_unique<CFSPlatformFilter>(static_cast<const CFSFilter&>(*filter))
                  : nullptr;
}

void CFSFilterFile::setFilter(const CFSFilter* newFilter)
{
    if (newFilter)
        filter = std::make_unique<CFSPlatformFilter>(*newFilter);
}

// A misspelt key would silently do nothing; each is named once.
void CFSFilterFile::warnAboutUnknownKeys(QSettings& settings) const
{
    SY_FUNCTION("CFSFilterFile::warnAboutUnknownKeys");
    const QStringList rootKeys = settings.childKeys();
    for (const QString& key : rootKeys)
        SY_WARNING << "ignored unknown key" << lineKey(key) << "in section General of filter file"
                   << m_fileName;
    const QStringList sections = settings.childGroups();
    for (const QString& section : sections) {
        settings.beginGroup(section);
        const QStringList keys = settings.allKeys();
        settings.endGroup();
        const auto category = std::find_if(std::begin(categoryKeys), std::end(categoryKeys),
                                           [&section](const CCategoryKeys& known) {
                                               return section == QLatin1String(known.group);
                                           });
        if (section != QLatin1String("options") && category == std::end(categoryKeys)) {
            QStringList spelt;
            for (const QString& key : keys)
                spelt.append(lineKey(key));
            SY_WARNING << "ignored unknown section" << section << "of filter file" << m_fileName
                       << "with the keys" << spelt.join(QLatin1String(", "));
            continue;
        }
        for (const QString& key : keys) {
            const bool known =
                category == std::end(categoryKeys) ? isModuleKey(key) : isArrayKey(key, *category);
            if (!known)
                SY_WARNING << "ignored unknown key" << lineKey(key) << "in section" << section
                           << "of filter file" << m_fileName;
        }
    }
}
