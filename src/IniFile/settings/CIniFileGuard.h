#pragma once

#include <QList>
#include <QLockFile>
#include <QMap>
#include <QPair>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>
#include <optional>

struct CCallSiteRecord;

// The settings file at one path and what keeps it whole. The file is read into a private working
// copy, and every change is merged into the file at once, under the file's lock taken with a
// bounded wait: a lock held forever by another process, a full disk or a read-only folder costs
// the change its place in the file (logged with its cause), never a hang, and the value stays in
// the working copy for the rest of the run. A file holding a serialised object is moved aside
// before the first write; a path that is not a regular file is never written.
//
// Keys are as stored in the file. Not thread-safe: its owner serialises the calls.
class CIniFileGuard
{
public:
    explicit CIniFileGuard(const QString& path);
    ~CIniFileGuard();

    // False when the path holds something other than a settings file: nothing is read or saved.
    bool isOpen() const { return settings != nullptr; }
    // Invalid, or false, when the key is missing or the guard is not open.
    QVariant value(const QString& key) const;
    bool contains(const QString& key) const;
    // Every child key of group with its value.
    QVariantMap groupValues(const QString& group);

    // A key and its new value, or none to remove the key.
    using TChange = QPair<QString, std::optional<QVariant>>;
    // Records the changes and saves them; when saving fails this run still reads them.
    // A value QSettings would store as a serialised object is left out (a critical record).
    void change(const QList<TChange>& requested);

private:
    // Merges the keys changed since the last save into the file; false (logged) when it could not.
    // Its steps log as it does, each false or null (logged) when the change stays in this run only.
    bool save();
    // Creates the folder and takes the file's lock.
    bool takeLock(const CCallSiteRecord& syCallSite, QLockFile& lock, const QString& folder);
    // The file as it is now; empty when there is none.
    std::optional<QByteArray> readAgain(const CCallSiteRecord& syCallSite) const;
    // A working copy of content, which a damaged file is first moved aside from (content is then
    // cleared); readWhole tells whether QSettings holds all of it.
    std::unique_ptr<QSettings> openMerged(const CCallSiteRecord& syCallSite, QByteArray& content,
                                          bool& readWhole);
    // Writes the unsaved changes into merged; its bytes go to written, and the copy returned has
    // read them back.
    std::unique_ptr<QSettings> writeMerged(const CCallSiteRecord& syCallSite, QSettings& merged,
                                           QByteArray& written);
    // Puts content in the file's place, on the disk and named in its folder.
    bool replaceFile(const CCallSiteRecord& syCallSite, const QByteArray& content,
                     const QString& folder);
    // A private copy of content for QSettings to read; null when it could not be written, or
    // (with serialised set) when the content holds a serialised value other than a date.
    std::unique_ptr<QSettings> openWorkingCopy(const QByteArray& content, bool* serialised);
    static bool putValuesBack(QSettings& copy, const QStringList& keys,
                              const QByteArray& placeholder, const QList<QVariant>& dates);
    void removeAbandonedSaves(const QString& folder) const;
    // A free name beside the file for a copy of it the user keeps.
    QString damagedName() const;
    bool moveDamagedFileAside();
    // Keeps content, the file as it was read, under a name of its own; false (logged) when not.
    bool keepCopy(const QByteArray& content);

    // Declared before the settings object, which writes into it until it is destroyed.
    QTemporaryDir workingFolder;
    // Held for the guard's life, so that a later process can tell an abandoned working copy.
    std::unique_ptr<QLockFile> owner;
    const QString filePath;
    // Null when the path holds something other than a regular file: nothing is read or saved.
    std::unique_ptr<QSettings> settings;
    // Changes not yet in the file, by key.
    QMap<QString, std::optional<QVariant>> unsaved;
    int workingCopies = 0;
};
