#pragma once

#include "IniFile/scanner/CDirListing.h"
#include "IniFile/zip/CArchiveFile.h"
#include "IniFile/zip/CZipper.h"
#include "IniFile/zip/CZipperVerifier.h"
#include "IniFile/zip/IReplacementFile.h"

#include <QString>
#include <QTemporaryFile>

#include <memory>
#include <vector>

#include <quazip/quazip.h>

// What one zip call packs, and where.
struct CZipper::TPack
{
    QString target;
    CArchiveFile& archiveFile;
    QuaZip& archive;
    // Entries whose names are not UTF-8 follow the others of their kind.
    CDirListing listing;
    quint32 total = 0;
    quint32 actual = 1;
    std::vector<CZipperVerifier::TEntry> written;
    std::vector<CZipperVerifier::TPiece> pieces;
    // What was masked: how many values, and a line "entry:line: kind" for each. The lines wait
    // in a file of their own beside the archive, not in memory: a log can hold a value in every
    // record. Unnamed where the file system allows, else removed when the zip ends, however.
    qint64 maskedCount = 0;
    std::unique_ptr<QTemporaryFile> maskedList;
    // Where an archive that is added to is written, so that it keeps its old version until the
    // new one is whole.
    std::unique_ptr<IReplacementFile> replacement;

    // The cause of a failed write to the archive, in the system's words where it gave any.
    QString writeError() const
    {
        if (!archiveFile.writeError().isEmpty())
            return archiveFile.writeError();
        return archiveFile.error() != QFileDevice::NoError ? archiveFile.errorString()
                                                           : QStringLiteral("write error");
    }
};
