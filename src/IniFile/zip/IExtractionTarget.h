#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QFile;

// The folder an archive is unpacked into. Folders and files are created strictly below it:
// an existing symbolic link on the way (or in place of the file) is never followed, so nothing
// reaches outside the folder whatever its contents. Components are plain names, never "", "."
// or "..". Each platform provides open().
class IExtractionTarget
{
public:
    enum class TResult
    {
        Done,
        // The path on disk would lead through or onto a symbolic link, or through a non-folder.
        Refused,
        Failed,
    };

    virtual ~IExtractionTarget() = default;

    // The folder root, opened now and followed if it is a link itself (the caller named it);
    // operations fail when it cannot be opened.
    static std::unique_ptr<IExtractionTarget> open(const QString& root);

    // Creates the folders that are missing along components.
    [[nodiscard]] virtual TResult makeDirectory(const QStringList& components) = 0;
    // Creates the folders above the file, then a new empty file beside it, under a temporary
    // name of its own, that file is opened on for writing; the file's name keeps what it holds.
    // What an unpacking that was killed left in that folder is removed first.
    [[nodiscard]] virtual TResult createFile(const QStringList& components, QFile& file) = 0;
    // Syncs and closes the file that createFile() opened and gives it its name: an existing file
    // is replaced, not written through (it may be a hard link).
    [[nodiscard]] virtual TResult commitFile(QFile& file) = 0;
    // Closes and removes the file that createFile() opened, leaving its name as it was.
    virtual void discardFile(QFile& file) = 0;
    // Why the last operation did not succeed.
    virtual QString errorString() const = 0;
};
