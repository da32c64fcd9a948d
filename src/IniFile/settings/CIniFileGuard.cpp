#include "IniFile/settings/CIniFileGuard.h"

#include "IniFile/settings/CIniFileSync.h"
#include "diagnostics/CLogRecord.h"
#include "iniText/CSerialisedValueCheck.h"
#include "threading/threads/CCallStack.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QThread>
#include <QUrl>
#include <QUuid>

namespace {

// Other writers hold the file's lock for the few milliseconds of one write; a lock held longer
// belongs to a process that is stuck, and the change is not worth a hanging program.
const int lockWaitMs = 3000;
// Room for the process id, application and host names QLockFile writes.
const qsizetype lockFileSize = 256;
const int lockStepMs = 5;

QByteArray withoutByteOrderMark(const QByteArray& content)
{
    static const QByteArray mark("\xEF\xBB\xBF");
    return content.startsWith(mark) ? content.mid(mark.size()) : content;
}

bool isUtf8(const QByteArray& text)
{
    return QString::fromUtf8(text).toUtf8() == text;
}

bool isWrittenAsText(int typeId)
{
    switch (typeId) {
    case QMetaType::UnknownType:
    case QMetaType::QByteArray:
    case QMetaType::QString:
    case QMetaType::QStringList:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Bool:
    case QMetaType::Float:
    case QMetaType::Double:
    case QMetaType::QRect:
    case QMetaType::QSize:
    case QMetaType::QPoint:
        return true;
    default:
        return false;
    }
}

// The value as the ini file holds it and gives it back. QSettings writes other types as
// serialised objects, which this class does not read: none for such a value. A URL is kept as
// its text, a date in a named time zone at its offset from UTC (the zone's name would be looked
// up as a file when it is read).
std::optional<QVariant> storableValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QUrl:
        return QVariant(value.toUrl().toString(QUrl::FullyEncoded));
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        return QVariant(date.timeSpec() == Qt::TimeZone ? date.toOffsetFromUtc(date.offsetFromUtc())
                                                        : date);
    }
    case QMetaType::QVariantList: {
        // A list of one is written as one serialised object, a longer one item by item.
        QVariantList items = value.toList();
        if (items.size() == 1)
            return std::nullopt;
        for (QVariant& item : items) {
            if (item.typeId() == QMetaType::QUrl)
                item = item.toUrl().toString(QUrl::FullyEncoded);
            else if (!isWrittenAsText(item.typeId()) || item.typeId() == QMetaType::QStringList)
                return std::nullopt;
        }
        return QVariant(items);
    }
    default:
        return isWrittenAsText(value.typeId()) ? std::optional<QVariant>(value) : std::nullopt;
    }
}

// What keeps a file of size bytes from being written in folder, as the system names it; empty
// when such a file can be written. QLockFile tells only that it failed, and QSaveFile gives
// "Unknown error" for a failed flush. Asked while the failed file still holds its room.
QString whyNoFileIn(const QString& folder, qsizetype size)
{
    QTemporaryFile probe(folder + QStringLiteral("/.Syncarium.ini.probe-XXXXXX"));
    if (!probe.open())
        return probe.errorString();
    const QByteArray text(size, '\n');
    if (probe.write(text) != text.size() || !probe.flush())
        return probe.errorString();
    return QString();
}

QString orIfEmpty(const QString& text, const QString& otherwise)
{
    return text.isEmpty() ? otherwise : text;
}

QString orIfEmpty(const QString& text, QLockFile::LockError error)
{
    return text.isEmpty() ? QStringLiteral("lock error %1").arg(int(error)) : text;
}

// QLockFile's own wait sleeps 100 ms and more between attempts: against a process that writes
// often, a waiter would hardly ever find the lock free. Short steps share it fairly.
bool acquire(QLockFile& lock)
{
    const QDeadlineTimer deadline(lockWaitMs);
    while (!lock.tryLock(0)) {
        if (lock.error() != QLockFile::LockFailedError)
            return false;
        if (deadline.hasExpired()) {
            // A writer names itself in the lock file as soon as it has made it; one that still
            // names nobody after the whole wait was killed in between, and QLockFile would wait
            // for its age to pass.
            qint64 pid = 0;
            QString host;
            QString application;
            return !lock.getLockInfo(&pid, &host, &application) && lock.removeStaleLockFile() &&
                   lock.tryLock(0);
        }
        QThread::msleep(lockStepMs);
    }
    return true;
}

// The working copies hold the user's settings: in the user's runtime folder (private, and
// usually in memory, so the copies cost no disk writes) when there is one.
QString workingFolderTemplate()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/syncarium-settings-XXXXXX");
}

const QString ownerLockName = QStringLiteral("owner.lock");

// Working copies of the user's settings, proxy password included, must not outlive their
// process: those of a process that was killed go when the next guard starts. Each folder holds
// its owner's lock; one that can be taken belongs to a process that is gone. A folder just
// made by another process may not hold its lock yet, so only older ones without a lock go.
void removeAbandonedWorkingCopies(const QString& own)
{
    const QDir folder = QFileInfo(own).dir();
    const QFileInfoList copies = folder.entryInfoList({QStringLiteral("syncarium-settings-*")},
                                                      QDir::Dirs | QDir::NoSymLinks | QDir::Hidden);
    for (const QFileInfo& copy : copies) {
        if (copy.absoluteFilePath() == QFileInfo(own).absoluteFilePath())
            continue;
        const QString lockPath = copy.absoluteFilePath() + QLatin1Char('/') + ownerLockName;
        if (!QFileInfo::exists(lockPath) &&
            copy.lastModified().secsTo(QDateTime::currentDateTime()) < 60)
            continue;
        QLockFile owner(lockPath);
        owner.setStaleLockTime(0);
        if (!owner.tryLock(0))
            continue;
        owner.unlock();
        if (!QDir(copy.absoluteFilePath()).removeRecursively())
            SY_WARNING_AT("CIniFileGuard::CIniFileGuard")
                << "could not remove an abandoned working copy of the settings:"
                << copy.absoluteFilePath();
    }
}

} // namespace

// QSaveFile gives its data a name of the file's name and six characters just before it renames
// it: a process killed in between leaves it. Every writer of the file writes under its lock, so
// while this one holds it no such name is another's save in progress.
void CIniFileGuard::removeAbandonedSaves(const QString& folder) const
{
    const QString name = QFileInfo(filePath).fileName();
    const QRegularExpression pattern(QLatin1Char('^') + QRegularExpression::escape(name) +
                                     QStringLiteral("\\.[A-Za-z0-9]{6}$"));
    const QFileInfoList entries =
        QDir(folder).entryInfoList({name + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        if (pattern.match(entry.fileName()).hasMatch() && !entry.isSymLink())
            QFile::remove(entry.absoluteFilePath());
    }
}

CIniFileGuard::CIniFileGuard(const QString& path)
    : workingFolder(workingFolderTemplate()), filePath(path)
{
    SY_FUNCTION("CIniFileGuard::CIniFileGuard");
    if (!workingFolder.isValid()) {
        SY_CRITICAL << "no folder for the working copy of the settings, the defaults are used and"
                       " nothing is saved:"
                    << workingFolder.errorString();
        return;
    }
    owner = std::make_unique<QLockFile>(workingFolder.filePath(ownerLockName));
    owner->setStaleLockTime(0);
    if (!owner->tryLock(0))
        SY_WARNING << "could not mark the working copy of the settings as this process's:"
                   << workingFolder.path();
    removeAbandonedWorkingCopies(workingFolder.path());
    // A FIFO makes a reader wait for a writer that never comes, a device or a folder is no
    // settings file: such a path is left alone for the whole run.
    const QFileInfo info(filePath);
    if (info.exists() && !info.isFile()) {
        SY_CRITICAL << "the settings path holds"
                    << (info.isDir() ? "a folder" : "a FIFO, socket or device")
                    << "instead of a settings file, the defaults are used and nothing is saved:"
                    << filePath;
        return;
    }
    QByteArray content;
    if (info.exists()) {
        QFile file(filePath);
        if (file.open(QIODevice::ReadOnly))
            content = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            SY_CRITICAL << "could not read the settings file, the defaults are used:" << filePath
                        << file.errorString();
            content.clear();
        }
    }
    bool serialised = false;
    settings = openWorkingCopy(content, &serialised);
    if (serialised) {
        SY_CRITICAL << "the settings file holds a serialised value (@Variant, or @DateTime holding"
                       " other than a date), which is not read; the defaults are used and the file"
                       " is moved aside before the first change is saved:"
                    << filePath;
        settings = openWorkingCopy(QByteArray(), &serialised);
    } else if (settings && settings->status() == QSettings::FormatError) {
        // As QSettings does: every key is read, the lines without one are skipped.
        SY_WARNING << "the settings file has lines that are no keys (without \"=\"); they are"
                      " skipped and not kept when a change is saved:"
                   << filePath;
    }
}

CIniFileGuard::~CIniFileGuard() = default;

QVariant CIniFileGuard::value(const QString& key) const
{
    return settings ? settings->value(key) : QVariant();
}

bool CIniFileGuard::contains(const QString& key) const
{
    return settings && settings->contains(key);
}

QVariantMap CIniFileGuard::groupValues(const QString& group)
{
    QVariantMap values;
    if (!settings)
        return values;
    settings->beginGroup(group);
    const QStringList keys = settings->childKeys();
    for (const QString& key : keys)
        values.insert(key, settings->value(key));
    settings->endGroup();
    return values;
}

std::unique_ptr<QSettings> CIniFileGuard::openWorkingCopy(const QByteArray& content,
                                                          bool* serialised)
{
    SY_FUNCTION("CIniFileGuard::openWorkingCopy");
    // QSettings refuses a byte-order mark; the rest of such a file is read as it is.
    QByteArray text = withoutByteOrderMark(content);
    // Dates and plain values are decoded here and given to QSettings as values; what else is
    // serialised is not read.
    const QByteArray placeholder =
        "syncarium-date-" + QUuid::createUuid().toByteArray(QUuid::Id128) + '-';
    const QList<QVariant> dates = CSerialisedValueCheck::setPlainValuesAside(text, placeholder);
    *serialised = CSerialisedValueCheck::mayHoldSerialisedValue(text);
    if (*serialised)
        return nullptr;
    const QString path =
        workingFolder.filePath(QStringLiteral("settings-%1.ini").arg(++workingCopies));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() ||
        !file.flush()) {
        SY_CRITICAL << "could not write the working copy of the settings:" << path
                    << file.errorString();
        return nullptr;
    }
    file.close();
    auto copy = std::make_unique<QSettings>(path, QSettings::IniFormat);
    // Sections are parsed when first used; parse them all so that status() tells of damage now.
    const QStringList keys = copy->allKeys();
    if (!dates.isEmpty() && !putValuesBack(*copy, keys, placeholder, dates)) {
        *serialised = true;
        return nullptr;
    }
    return copy;
}

// A placeholder found must be one whole value; where the parser read the file otherwise, the
// date was no value of its own, and the file is taken as it stands: serialised. One not found
// belongs to a key given again further on, whose later value the parser keeps.
bool CIniFileGuard::putValuesBack(QSettings& copy, const QStringList& keys,
                                  const QByteArray& placeholder, const QList<QVariant>& dates)
{
    const QString prefix = QString::fromLatin1(placeholder);
    QList<bool> found(dates.size(), false);
    for (const QString& key : keys) {
        const QVariant value = copy.value(key);
        const QStringList texts = value.typeId() == QMetaType::QStringList
                                      ? value.toStringList()
                                      : QStringList{value.toString()};
        for (const QString& text : texts) {
            if (!text.contains(prefix))
                continue;
            bool ok = false;
            const qsizetype index = text.mid(prefix.size()).toLongLong(&ok);
            if (value.typeId() != QMetaType::QString || !text.startsWith(prefix) || !ok ||
                index < 0 || index >= dates.size() || found.at(index) ||
                text != prefix + QString::number(index))
                return false;
            found[index] = true;
            copy.setValue(key, dates.at(index));
        }
    }
    return true;
}

QString CIniFileGuard::damagedName() const
{
    const QString base = filePath + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString target = base;
    for (int n = 1; QFileInfo(target).exists() || QFileInfo(target).isSymLink(); ++n)
        target = base + QLatin1Char('-') + QString::number(n);
    return target;
}

bool CIniFileGuard::moveDamagedFileAside()
{
    SY_FUNCTION("CIniFileGuard::moveDamagedFileAside");
    const QString target = damagedName();
    QFile file(filePath);
    if (!file.rename(target)) {
        SY_CRITICAL << "could not move the damaged settings file aside, the change is kept for"
                       " this run only:"
                    << filePath << target << file.errorString();
        return false;
    }
    SY_CRITICAL << "the settings file could not be parsed and was moved aside:" << filePath << "->"
                << target;
    return true;
}

bool CIniFileGuard::keepCopy(const QByteArray& content)
{
    SY_FUNCTION("CIniFileGuard::keepCopy");
    const QString target = damagedName();
    QFile copy(target);
    QString error;
    // Created without replacing anything, and on the disk before the file it keeps is replaced.
    const bool kept = copy.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
                      copy.write(content) == content.size() && copy.flush() &&
                      CIniFileSync::syncFile(copy, error) &&
                      CIniFileSync::syncFolder(QFileInfo(target).absolutePath(), error);
    if (!kept) {
        SY_CRITICAL << "could not keep a copy of the settings file, which is not read whole; the"
                       " file is left as it is and the change is kept for this run only:"
                    << filePath << target << (error.isEmpty() ? copy.errorString() : error);
        copy.close();
        QFile::remove(target);
        return false;
    }
    SY_CRITICAL << "the settings file is not read whole, a copy is kept before it is replaced:"
                << filePath << "->" << target;
    return true;
}

bool CIniFileGuard::takeLock(const CCallSiteRecord& syCallSite, QLockFile& lock,
                             const QString& folder)
{
    if (!QDir().mkpath(folder)) {
        SY_CRITICAL << "could not create the settings folder, the change is kept for this run"
                       " only:"
                    << folder;
        return false;
    }
    if (!acquire(lock)) {
        if (lock.error() == QLockFile::LockFailedError)
            SY_CRITICAL << "could not lock the settings file within" << lockWaitMs
                        << "ms, the change is kept for this run only:" << filePath
                        << "the lock is held by another process";
        else
            SY_CRITICAL << "could not create the lock file of the settings, the change is kept for"
                           " this run only:"
                        << lock.fileName()
                        << orIfEmpty(whyNoFileIn(folder, lockFileSize), lock.error());
        return false;
    }
    return true;
}

std::optional<QByteArray> CIniFileGuard::readAgain(const CCallSiteRecord& syCallSite) const
{
    const QFileInfo info(filePath);
    if (!info.exists())
        return QByteArray();
    if (!info.isFile()) {
        SY_CRITICAL << "the settings path no longer holds a settings file, the change is kept"
                       " for this run only:"
                    << filePath;
        return std::nullopt;
    }
    if (!info.isWritable()) {
        SY_CRITICAL << "the settings file is read-only, the change is kept for this run only:"
                    << filePath;
        return std::nullopt;
    }
    QFile file(filePath);
    QByteArray content;
    if (file.open(QIODevice::ReadOnly))
        content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        SY_CRITICAL << "could not read the settings file, the change is kept for this run"
                       " only:"
                    << filePath << file.errorString();
        return std::nullopt;
    }
    return content;
}

std::unique_ptr<QSettings> CIniFileGuard::openMerged(const CCallSiteRecord& syCallSite,
                                                     QByteArray& content, bool& readWhole)
{
    bool serialised = false;
    std::unique_ptr<QSettings> merged = openWorkingCopy(content, &serialised);
    if (serialised) {
        // Writing it would replace the user's whole file with the keys that could be read.
        if (!moveDamagedFileAside())
            return nullptr;
        // Kept whole under its new name: nothing of it is replaced any more.
        content.clear();
        merged = openWorkingCopy(QByteArray(), &serialised);
    }
    // What QSettings cannot read whole (lines it skips, bytes that are no UTF-8 text, as in a
    // binary, cut or UTF-16 file) is lost when the file is written anew: the user keeps a copy.
    readWhole = !(merged && merged->status() == QSettings::FormatError) &&
                !content.contains('\0') && isUtf8(withoutByteOrderMark(content));
    if (merged && merged->status() == QSettings::FormatError) {
        // QSettings does not write back a file it could not parse whole: the same keys, without
        // the lines it skipped.
        QFile::remove(merged->fileName());
        merged = openWorkingCopy(
            CSerialisedValueCheck::withoutSkippedLines(withoutByteOrderMark(content)), &serialised);
        if (serialised || (merged && merged->status() != QSettings::NoError)) {
            SY_CRITICAL << "the lines of the settings file that are no keys could not be left out,"
                           " the file is left as it is and the change is kept for this run only:"
                        << filePath;
            return nullptr;
        }
    }
    return merged;
}

std::unique_ptr<QSettings> CIniFileGuard::writeMerged(const CCallSiteRecord& syCallSite,
                                                      QSettings& merged, QByteArray& written)
{
    for (auto it = unsaved.cbegin(); it != unsaved.cend(); ++it) {
        if (!it.value())
            merged.remove(it.key());
    }
    for (auto it = unsaved.cbegin(); it != unsaved.cend(); ++it) {
        if (it.value())
            merged.setValue(it.key(), *it.value());
    }
    merged.sync();
    QFile mergedFile(merged.fileName());
    if (merged.status() == QSettings::NoError && mergedFile.open(QIODevice::ReadOnly))
        written = mergedFile.readAll();
    if (merged.status() != QSettings::NoError || mergedFile.error() != QFileDevice::NoError) {
        SY_CRITICAL << "could not prepare the settings file, the change is kept for this run"
                       " only:"
                    << merged.fileName() << merged.status() << mergedFile.errorString();
        return nullptr;
    }
    // QSettings writes some odd keys (one ending with a separator) in a form it cannot read
    // back; such a file would be taken for a damaged one on the next start.
    bool serialised = false;
    std::unique_ptr<QSettings> readBack = openWorkingCopy(written, &serialised);
    if (serialised || (readBack && readBack->status() != QSettings::NoError)) {
        SY_CRITICAL << "the settings would not read back as written, the file is left as it is"
                       " and the change is kept for this run only:"
                    << filePath;
        if (readBack)
            QFile::remove(readBack->fileName());
        return nullptr;
    }
    return readBack;
}

bool CIniFileGuard::replaceFile(const CCallSiteRecord& syCallSite, const QByteArray& content,
                                const QString& folder)
{
    QSaveFile output(filePath);
    QString syncError;
    // QSaveFile writes beside the file and renames: a full disk or a read-only folder leaves
    // the previous file as it was. It syncs before it renames but ignores a failed sync, and its
    // commit() has been seen to report success after its own flush failed on a full disk: the
    // flush and the sync are checked here first.
    if (!output.open(QIODevice::WriteOnly) || output.write(content) != content.size() ||
        !output.flush() || !CIniFileSync::syncFile(output, syncError) || !output.commit()) {
        const QString cause =
            !syncError.isEmpty() ? syncError
            : output.error() == QFileDevice::NoError || output.error() == QFileDevice::WriteError
                ? orIfEmpty(whyNoFileIn(folder, content.size()), output.errorString())
                : output.errorString();
        SY_CRITICAL << "could not write the settings file, the previous file is kept and the"
                       " change is kept for this run only:"
                    << filePath << cause;
        return false;
    }
    if (!CIniFileSync::syncFolder(folder, syncError)) {
        SY_CRITICAL << "could not sync the settings folder, the new settings file may not outlive"
                       " a power loss and the change is saved again with the next one:"
                    << folder << syncError;
        return false;
    }
    return true;
}

bool CIniFileGuard::save()
{
    SY_FUNCTION("CIniFileGuard::save");
    if (unsaved.isEmpty())
        return true;
    const QString folder = QFileInfo(filePath).absolutePath();
    // The lock file QSettings itself uses, so that any writer of this file waits for this one.
    QLockFile lock(filePath + QStringLiteral(".lock"));
    if (!takeLock(syCallSite, lock, folder))
        return false;
    removeAbandonedSaves(folder);
    // The file is read again under the lock: other processes' keys since the last read stay.
    std::optional<QByteArray> content = readAgain(syCallSite);
    if (!content)
        return false;
    bool readWhole = true;
    const std::unique_ptr<QSettings> merged = openMerged(syCallSite, *content, readWhole);
    if (!merged)
        return false;
    QByteArray mergedContent;
    std::unique_ptr<QSettings> written = writeMerged(syCallSite, *merged, mergedContent);
    if (!written)
        return false;
    if (!readWhole && !keepCopy(*content))
        return false;
    if (!replaceFile(syCallSite, mergedContent, folder)) {
        QFile::remove(written->fileName());
        return false;
    }
    // From now on this run reads what the file holds, as a later run will.
    const QString previousCopy = settings->fileName();
    settings = std::move(written);
    QFile::remove(previousCopy);
    QFile::remove(merged->fileName());
    unsaved.clear();
    return true;
}

void CIniFileGuard::change(const QList<TChange>& requested)
{
    SY_FUNCTION("CIniFileGuard::change");
    if (!settings)
        return;
    QList<TChange> changes;
    for (const TChange& change : requested) {
        if (!change.second) {
            changes.append(change);
        } else if (const std::optional<QVariant> value = storableValue(*change.second)) {
            changes.append({change.first, value});
        } else {
            SY_CRITICAL << "a value of type" << change.second->metaType().name()
                        << "cannot be stored in the settings file, it is left out:" << change.first;
        }
    }
    if (changes.isEmpty())
        return;
    for (const TChange& change : std::as_const(changes)) {
        if (!change.second) {
            // What was set below a removed key goes with it, whatever the order of saving.
            const QString below = change.first + QLatin1Char('/');
            for (auto it = unsaved.begin(); it != unsaved.end();)
                it = it.key().startsWith(below) ? unsaved.erase(it) : std::next(it);
        }
        unsaved.insert(change.first, change.second);
    }
    if (save())
        return;
    // The file keeps its previous values; this run goes on with the new ones.
    for (const TChange& change : std::as_const(changes)) {
        if (change.second)
            settings->setValue(change.first, *change.second);
        else
            settings->remove(change.first);
    }
}
