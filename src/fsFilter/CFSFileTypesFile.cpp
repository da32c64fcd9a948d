#include "fsFilter/CFSFileTypesFile.h"

#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

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

const char marker[] = "@Variant(";
const int markerLength = 9;

// States of a search for the marker: bit k set when the text so far may end with its first k
// characters, at the start of a value.
using TMatch = quint32;
const TMatch markerFound = TMatch(1) << markerLength;

TMatch afterChar(TMatch states, char ch, bool mayStart)
{
    TMatch next = 0;
    for (int k = 0; k < markerLength; ++k) {
        if ((states & (TMatch(1) << k)) && marker[k] == ch)
            next |= TMatch(1) << (k + 1);
    }
    if (mayStart && ch == '@')
        next |= TMatch(1) << 1;
    return next | (states & markerFound);
}

int digitValue(char ch)
{
    return ch >= '0' && ch <= '9'   ? ch - '0'
           : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
           : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                    : -1;
}

// A numeric escape: the parser reads some of its digits (all, as far as is known) into one
// character and leaves the others as text; without digits it gives nothing.
TMatch afterNumericEscape(TMatch states, const QByteArray& digits, int base)
{
    TMatch result = 0;
    uint value = 0;
    for (qsizetype used = 0; used <= digits.size(); ++used) {
        if (used > 0)
            value = value * uint(base) + uint(digitValue(digits.at(used - 1)));
        TMatch next = states;
        if (used > 0) {
            next = states & markerFound;
            for (const uint code : {value & 0xff, value & 0xffff}) {
                if (code < 0x80)
                    next |= afterChar(states, char(code), true);
            }
        }
        // Digits never start the marker and end any match within two, whatever their number.
        for (qsizetype rest = used; rest < digits.size() && (next & ~markerFound); ++rest)
            next = afterChar(next, digits.at(rest), false);
        result |= next;
    }
    return result;
}

// Whether the settings parser could turn some value into "@Variant(" followed by a serialised
// value: decoding one reserves whatever element count it claims, gigabytes from a few bytes.
// Quotes are dropped and escapes decoded in every way the parser might read them, so the
// answer errs towards yes; the writer writes a leading "@" as "@@" and controls as numeric
// escapes, and its files never hold a marker.
bool mayHoldSerialisedValue(const QByteArray& content)
{
    TMatch states = 0;
    bool afterAt = false;
    for (qsizetype i = 0; i < content.size() && !(states & markerFound); ++i) {
        const char ch = content.at(i);
        if (ch == '"')
            continue;
        if (ch != '\\' || i + 1 == content.size()) {
            states = afterChar(states, ch, !afterAt);
            afterAt = ch == '@';
            continue;
        }
        afterAt = false;
        const char next = content.at(++i);
        const bool hex = next == 'x' || next == 'X';
        if (hex || (next >= '0' && next <= '7')) {
            QByteArray digits;
            if (!hex)
                digits.append(next);
            while (i + 1 < content.size() && digitValue(content.at(i + 1)) >= 0 &&
                   digitValue(content.at(i + 1)) < (hex ? 16 : 8))
                digits.append(content.at(++i));
            states = afterNumericEscape(states, digits, hex ? 16 : 8);
        } else if (next == '\r' || next == '\n') {
            // A continued line joins its halves.
        } else if (QByteArrayView("abfnrtv\"'\\?").contains(next)) {
            states &= markerFound;
        } else {
            // Unknown escapes: the character itself, or nothing.
            states |= afterChar(states, next, true);
        }
    }
    return states & markerFound;
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
    const QFileInfo info(fileName);
    if (!info.exists()) {
        SY_CRITICAL << "Error loading file types file:" << fileName << "not found.";
        return false;
    }
    // A FIFO would block the reader and a device never ends: only regular files are opened.
    if (!info.isFile()) {
        SY_CRITICAL << "Error loading file types file:" << fileName << "is not a regular file.";
        return false;
    }
    if (info.size() > maxFileSize) {
        SY_CRITICAL << "Error loading file types file:" << fileName << "is larger than"
                    << maxFileSize << "bytes.";
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        SY_CRITICAL << "Error loading file types file:" << fileName
                    << "could not be read:" << file.errorString();
        return false;
    }
    const QByteArray content = file.read(maxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        SY_CRITICAL << "Error loading file types file:" << fileName
                    << "could not be read:" << file.errorString();
        return false;
    }
    if (content.size() > maxFileSize) {
        SY_CRITICAL << "Error loading file types file:" << fileName << "is larger than"
                    << maxFileSize << "bytes.";
        return false;
    }

    if (mayHoldSerialisedValue(content)) {
        SY_CRITICAL << "Error loading file types file:" << fileName
                    << "holds a serialised value (@Variant), which is not read.";
        return false;
    }

    // The settings parse a private copy under a fresh name: they cache files by name and
    // modification time, which would hide a change made to the same file within a millisecond.
    QTemporaryDir scratch;
    QFile copy(scratch.filePath(scratchName));
    if (!scratch.isValid() || !copy.open(QIODevice::WriteOnly) ||
        copy.write(content) != content.size() || !copy.flush()) {
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
            if (fileTypes->groupOfType(type, previous) && previous != group)
                SY_WARNING << "type" << type << "moves from group" << previous << "to group"
                           << group;
            fileTypes->setType(group, type, settings.value(type).toStringList());
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
        fileTypes->setEntries(type, settings.value(type).toStringList());
    }
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
    const QMap<QString, QString>& groupsByType = fileTypes->groupsByType();
    const QMap<QString, QStringList>& entriesByType = fileTypes->entriesByType();
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

    // The settings write into a private folder; the file itself is then replaced in one rename,
    // so that a failed write leaves the previous content in place.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        SY_CRITICAL << "Error saving file types file:" << fileName
                    << "no folder to prepare it in:" << scratch.errorString();
        return false;
    }
    const QString scratchPath = scratch.filePath(scratchName);
    {
        QSettings settings(scratchPath, QSettings::IniFormat);
        QStringList groupNames;
        fileTypes->groups(groupNames);
        for (const QString& group : std::as_const(groupNames)) {
            settings.beginGroup(group);
            QStringList typeNames;
            fileTypes->typesOfGroup(group, typeNames);
            for (const QString& type : std::as_const(typeNames))
                settings.setValue(type, entriesByType.value(type));
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
    }
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
    if (!target.open(QIODevice::WriteOnly) || target.write(content) != content.size() ||
        !target.commit()) {
        SY_CRITICAL << "Error saving file types file:" << fileName
                    << "could not be written:" << target.errorString();
        return false;
    }
    return true;
}
