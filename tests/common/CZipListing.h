#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What independent readers find in an archive: python3's zipfile lists the entries and checks
// each one's data, and Info-ZIP's "unzip -t" checks them once more.
class CZipListing
{
public:
    explicit CZipListing(const QString& archive);

    // Both readers opened the archive and found every entry intact.
    bool valid = false;
    // In the archive's order.
    QStringList names;
    QList<qint64> sizes;
    // The names whose entries carry the UTF-8 flag.
    QStringList utf8Names;
    // Per entry: the stored time stamp, the format version needed to extract it, and the
    // SHA-256 of its extracted content.
    QStringList times;
    QList<int> versionsNeeded;
    QStringList hashes;
    // The names as stored, byte for byte.
    QList<QByteArray> rawNames;

    QStringList sortedNames() const
    {
        QStringList sorted = names;
        sorted.sort();
        return sorted;
    }
    // The sorted names of archive when both readers find it intact, else "<invalid archive>".
    static QStringList checkedNames(const QString& archive)
    {
        const CZipListing listing(archive);
        return listing.valid ? listing.sortedNames()
                             : QStringList{QStringLiteral("<invalid archive>")};
    }
};
