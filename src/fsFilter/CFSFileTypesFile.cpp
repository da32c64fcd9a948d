#include "fsFilter/CFSFileTypesFile.h"

#include "iniText/CIniWrittenText.h"
#include "iniText/CSerialisedValueCheck.h"
#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

#include <optional>

namespace {

const QString scratchName = QStringLiteral("types.ini");

// Names the ini format cannot give back as one key or group of one level.
bool isStorableName(const QString& name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/'));
}

// The settings write every spelling of the top-level section's name as "%General", which reads
// back as "General".
bool isStorableGroup(const QString& name)
{
    return isStorableName(name) && (name == QLatin1String("General") ||
                                    name.compare(QLatin1String("general"), Qt::CaseInsensitive));
}

// A type of a group that has no list is written as an empty byte array: an empty list is written
// as "@Invalid()", and no list reads as an empty byte array.
const QByteArray noList;

bool isNoList(const QVariant& value)
{
    return value.typeId() == QMetaType::QByteArray && value.toByteArray().isEmpty();
}

// A numeric escape can give half of a surrogate pair, which no file can hold: the writer would
// store U+FFFD in its place. The table holds what a save gives back.
QStringList storableEntries(const QVariant& value, bool& replaced)
{
    QStringList entries = value.toStringList();
    replaced = false;
    for (QString& entry : entries) {
        if (entry.isValidUtf16())
            continue;
        for (qsizetype i = 0; i < entry.size(); ++i) {
            if (entry.at(i).isHighSurrogate() && i + 1 < entry.size() &&
                entry.at(i + 1).isLowSurrogate()) {
                ++i;
            } else if (entry.at(i).isSurrogate()) {
                entry[i] = QChar::ReplacementCharacter;
            }
        }
        replaced = true;
    }
    return entries;
}

// The file's bytes, when it is a file to read types from; when not, a critical record says why.
std::optional<QByteArray> readContent(const CCallSiteRecord& syCallSite, const QString& fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists()) {
        SY_CRITICAL << "Error loading file types file:" << fileName << "not found.";
        return std::nullopt;
    }
    // A FIFO would block the reader and a device never ends: only regular files are opened.
    if (!info.isFile()) {
        SY_CRITICAL << "Error loading file types file:" << fileName << "is not a regular file.";
        return std::nullopt;
    }
    if (info.size() > CFSFileTypesFile::maxFileSize) {
        SY_CRITICAL << "Error loading file types file:" << fileName << "is larger than"
                    << CFSFileTypesFile::maxFileSize << "bytes.";
        return std::nullopt;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        SY_CRITICAL << "Error loading file types file:" << fileName
                    << "could not be read:" << file.errorString();
        return std::nullopt;
    }
    const QByteArray content = file.read(CFSFileTypesFile::maxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        SY_CRITICAL << "Error loading file types file:" << fileName
                    << "could not be read:" << file.errorString();
        return std::nullopt;
    }
    if (content.size() > CFSFileTypesFile::maxFileSize) {
        SY_CRITICAL << "Error loading file types file:" << fileName << "is larger than"
                    << CFSFileTypesFile::maxFileSize << "bytes.";
        return std::nullopt;
    }

    if (CSerialisedValueCheck::mayHoldSerialisedValue(content)) {
        SY_CRITICAL << "Error loading file types file:" << fileName
                    << "holds a serialised value (@Variant or @DateTime), which is not read.";
        return std::nullopt;
    }
    return content;
}

// Adds the types the settings hold to fileTypes.
void readTypes(const CCallSiteRecord& syCallSite, QSettings& settings, CFSFileTypes& fileTypes)
{
    const auto entriesOf = [&](const QString& type) {
        bool replaced = false;
        QStringList entries = storableEntries(settings.value(type), replaced);
        if (replaced)
            SY_WARNING << "replaced what is not Unicode text in the list of type" << type
                       << "by U+FFFD";
        if (CIniWrittenText::dropMarksLostOnSave(entries) > 0)
            SY_WARNING << "dropped the byte order mark (U+FEFF) the list of type" << type
                       << "starts with, which a save would not keep";
        return entries;
    };

    const QStringList groupNames = settings.childGroups();
    for (const QString& group : groupNames) {
        settings.beginGroup(group);
        const QStringList keys = settings.childKeys();
        for (const QString& type : keys) {
            if (type.isEmpty()) {
                SY_WARNING << "skipped a type without a name in group" << group;
                continue;
            }
            QString previous;
            if (fileTypes.groupOfType(type, previous) && previous != group)
                SY_WARNING << "type" << type << "moves from group" << previous << "to group"
                           << group;
            if (isNoList(settings.value(type))) {
                fileTypes.setGroup(type, group);
                fileTypes.removeType(type);
            } else {
                fileTypes.setType(group, type, entriesOf(type));
            }
        }
        const QStringList nested = settings.childGroups();
        for (const QString& subGroup : nested)
            SY_WARNING << "skipped the keys below" << group + QLatin1Char('/') + subGroup;
        settings.endGroup();
    }
    const QStringList keys = settings.childKeys();
    for (const QString& type : keys) {
        if (type.isEmpty()) {
            SY_WARNING << "skipped a type without a name";
            continue;
        }
        fileTypes.setEntries(type, entriesOf(type));
    }
}

// Whether the ini format gives every name of fileTypes back as it is; when not, a critical
// record names the first that it does not.
bool namesAreStorable(const CCallSiteRecord& syCallSite, const QString& fileName,
                      const CFSFileTypes& fileTypes)
{
    const QMap<QString, QString>& groupsByType = fileTypes.groupsByType();
    const QMap<QString, QStringList>& entriesByType = fileTypes.entriesByType();
    for (auto it = groupsByType.cbegin(); it != groupsByType.cend(); ++it) {
        for (const QString& name : {it.key(), it.value()}) {
            if (name == it.key() ? !isStorableName(name) : !isStorableGroup(name)) {
                SY_CRITICAL << "Error saving file types file:" << fileName
                            << "cannot store the name" << ('"' + name + '"');
                return false;
            }
        }
    }
    for (auto it = entriesByType.cbegin(); it != entriesByType.cend(); ++it) {
        if (!isStorableName(it.key())) {
            SY_CRITICAL << "Error saving file types file:" << fileName << "cannot store the name"
                        << ('"' + it.key() + '"');
            return false;
        }
    }
    return true;
}

// Writes fileTypes with the settings to path; false (critical) when they could not.
bool writeTypes(const CCallSiteRecord& syCallSite, const QString& fileName, const QString& path,
                const CFSFileTypes& fileTypes)
{
    const QMap<QString, QString>& groupsByType = fileTypes.groupsByType();
    const QMap<QString, QStringList>& entriesByType = fileTypes.entriesByType();
    QSettings settings(path, QSettings::IniFormat);
    QStringList groupNames;
    fileTypes.groups(groupNames);
    for (const QString& group : std::as_const(groupNames)) {
        settings.beginGroup(group);
        QStringList typeNames;
        fileTypes.typesOfGroup(group, typeNames);
        for (const QString& type : std::as_const(typeNames)) {
            const auto entries = entriesByType.constFind(type);
            settings.setValue(type, entries == entriesByType.cend() ? QVariant(noList)
                                                                    : QVariant(*entries));
        }
        settings.endGroup();
    }
    for (auto it = entriesByType.cbegin(); it != entriesByType.cend(); ++it) {
        if (!groupsByType.contains(it.key()))
            settings.setValue(it.key(), it.value());
    }
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        SY_CRITICAL << "Error saving file types file:" << fileName << "could not be prepared.";
        return false;
    }
    return true;
}

} // namespace

CFSFileTypesFile::CFSFileTypesFile(const QString& fileName) : fileName(fileName) {}

CFSFileTypesFile::~CFSFileTypesFile() = default;

CFSFileTypes* CFSFileTypesFile::getFileTypes() const
{
    return fileTypes ? new CFSFileTypes(*fileTypes) : nullptr;
}

void CFSFileTypesFile::setFileTypes(const CFSFileTypes* other)
{
    if (other)
        fileTypes = std::make_unique<CFSFileTypes>(*other);
}

bool CFSFileTypesFile::load()
{
    SY_FUNCTION("CFSFileTypesFile::load");
    if (fileName.isEmpty()) {
        SY_CRITICAL << "Error no file types file specified.";
        return false;
    }
    const std::optional<QByteArray> content = readContent(syCallSite, fileName);
    if (!content)
        return false;
    // The settings parse a private copy under a fresh name: they cache files by name and
    // modification time, which would hide a change made to the same file within a millisecond.
    QTemporaryDir scratch;
    QFile copy(scratch.filePath(scratchName));
    if (!scratch.isValid() || !copy.open(QIODevice::WriteOnly) ||
        copy.write(*content) != content->size() || !copy.flush()) {
        SY_CRITICAL << "Error loading file types file:" << fileName
                    << "could not be copied for reading:"
                    << (scratch.isValid() ? copy.errorString() : scratch.errorString());
        return false;
    }
    copy.close();

    QSettings settings(copy.fileName(), QSettings::IniFormat);
    if (settings.status() == QSettings::AccessError) {
        SY_CRITICAL << "Error loading file types file:" << fileName
                    << "could not be read from its copy" << copy.fileName();
        return false;
    }
    // The parser keeps every line it understood; the rest is reported once and left out.
    if (settings.status() == QSettings::FormatError)
        SY_WARNING << "skipped the lines of" << fileName << "that are not ini settings";
    if (!fileTypes)
        fileTypes = std::make_unique<CFSFileTypes>();
    readTypes(syCallSite, settings, *fileTypes);
    return true;
}

bool CFSFileTypesFile::save(bool overwrite)
{
    SY_FUNCTION("CFSFileTypesFile::save");
    if (!fileTypes) {
        SY_CRITICAL << "Error no data supplied.";
        return false;
    }
    if (fileName.isEmpty()) {
        SY_CRITICAL << "Error no file types file specified.";
        return false;
    }
    const QFileInfo info(fileName);
    if (info.exists() && !overwrite) {
        SY_CRITICAL << "Error file types file already exists:" << fileName;
        return false;
    }
    if (info.exists() && !info.isFile()) {
        SY_CRITICAL << "Error saving file types file:" << fileName << "is not a regular file.";
        return false;
    }
    if (!namesAreStorable(syCallSite, fileName, *fileTypes))
        return false;

    // The settings write into a private folder; the file itself is then replaced in one rename,
    // so that a failed write leaves the previous content in place.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        SY_CRITICAL << "Error saving file types file:" << fileName
                    << "no folder to prepare it in:" << scratch.errorString();
        return false;
    }
    const QString scratchPath = scratch.filePath(scratchName);
    if (!writeTypes(syCallSite, fileName, scratchPath, *fileTypes))
        return false;
    // An empty table writes no file at all.
    QByteArray content;
    if (QFileInfo::exists(scratchPath)) {
        QFile prepared(scratchPath);
        if (prepared.open(QIODevice::ReadOnly))
            content = prepared.readAll();
        if (prepared.error() != QFileDevice::NoError) {
            SY_CRITICAL << "Error saving file types file:" << fileName
                        << "could not be prepared:" << prepared.errorString();
            return false;
        }
    }
    QSaveFile target(fileName);
    // commit() has been seen to report success after its own flush failed on a full disk.
    if (!target.open(QIODevice::WriteOnly) || target.write(content) != content.size() ||
        !target.flush() || !target.commit()) {
        SY_CRITICAL << "Error saving file types file:" << fileName
                    << "could not be written:" << target.errorString();
        return false;
    }
    return true;
}
