#pragma once

#include "IniFile/scanner/CDirListing.h"
#include "IniFile/collector/CSystemReport.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

// How much room the archive of one folder takes, known before a byte of it is written. The
// folder is walked once for its files' sizes and names; the upper bound stores every file
// uncompressed. Logs usually shrink to a tenth, so where the bound does not fit, an estimate
// from deflating samples spread evenly over all the folder's data decides, so that a dump or a
// gzipped log met first does not stand for every log; it is made at most once.
class CArchiveSpace
{
public:
    // Deflated data measured for the estimate, in samples of sampleSize / samples bytes.
    static constexpr qint64 sampleSize = 1024 * 1024;
    static constexpr int samples = 16;

    explicit CArchiveSpace(const QString& folder);

    quint64 upperBound() const { return bound; }
    // The archive's expected size, with a margin for logs that compress worse further on.
    quint64 estimate();
    // True when available bytes can take the archive: the upper bound fits, or the estimate.
    bool fitsInto(quint64 available);
    int entries() const { return entryCount; }
    // Counts in a file made in the folder since the walk, at path relative to it.
    void addMade(const QByteArray& path, qint64 size);
    // The regular files the walk found whose relative path starts with under, and their size.
    CSystemReport::TTally tally(const QByteArray& under = QByteArray()) const;
    // Hands the walk on to the zip of the folder that follows (see CZipper::useListing), so
    // that the folder is walked once; an estimate not made by then is the upper bound.
    CDirListing takeListing();

private:
    struct TFile
    {
        size_t entry = 0;
        // The data of the files before this one.
        quint64 start = 0;
    };

    // Deflates up to length bytes of the data at offset, counted over all files in their
    // order; false when deflate itself failed.
    // The bound and the files that hold data, from the listing.
    void measure();
    bool sample(quint64 offset, qint64 length, qint64& read, quint64& deflated);

    QString folder;
    CDirListing listing;
    // The files that hold data, in the listing's order.
    std::vector<TFile> files;
    quint64 dataBytes = 0;
    quint64 dataBound = 0;
    quint64 bound = 0;
    quint64 recordBytes = 0;
    int entryCount = 0;
    qint64 estimated = -1;
};
