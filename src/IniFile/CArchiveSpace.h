#pragma once

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

private:
    struct TFile
    {
        QByteArray path;
        // The data of the files before this one.
        quint64 start = 0;
        quint64 size = 0;
    };

    // Deflates up to length bytes of the data at offset, counted over all files in their
    // order; false when deflate itself failed.
    bool sample(quint64 offset, qint64 length, qint64& read, quint64& deflated);

    QString folder;
    std::vector<TFile> files;
    quint64 dataBytes = 0;
    quint64 dataBound = 0;
    quint64 bound = 0;
    quint64 recordBytes = 0;
    int entryCount = 0;
    qint64 estimated = -1;
};
