#pragma once

#include <QString>
#include <QtGlobal>

// How much room the archive of one folder takes, known before a byte of it is written. The
// folder is walked once for its files' sizes and names; the upper bound stores every file
// uncompressed. Logs usually shrink to a tenth, so where the bound does not fit, an estimate
// from deflating the folder's first MiB decides; it is made at most once.
class CArchiveSpace
{
public:
    // Deflated data measured for the estimate.
    static constexpr qint64 sampleSize = 1024 * 1024;

    explicit CArchiveSpace(const QString& folder);

    quint64 upperBound() const { return bound; }
    // The archive's expected size, with a margin for logs that compress worse further on.
    quint64 estimate();
    // True when available bytes can take the archive: the upper bound fits, or the estimate.
    bool fitsInto(quint64 available);
    int entries() const { return entryCount; }

private:
    QString folder;
    quint64 dataBytes = 0;
    quint64 dataBound = 0;
    quint64 bound = 0;
    quint64 recordBytes = 0;
    int entryCount = 0;
    qint64 estimated = -1;
};
