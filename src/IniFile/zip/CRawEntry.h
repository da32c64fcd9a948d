#pragma once

#include "IniFile/zip/CDeflatePipeline.h"
#include "IniFile/zip/CZipperVerifier.h"

#include <QByteArray>

#include <ctime>
#include <vector>

class QuaZip;

// One entry of the archive whose data arrive already deflated. An entry still open when it
// goes out of scope is ended and closed with what was written, so that a failure leaves a
// complete archive.
class CRawEntry
{
public:
    explicit CRawEntry(QuaZip& archive) : archive(archive) {}
    ~CRawEntry() { close(); }
    CRawEntry(const CRawEntry&) = delete;
    CRawEntry& operator=(const CRawEntry&) = delete;

    // name is spelled as the file system spells it; modified is in seconds since the epoch,
    // stored in local time. Returns the library's error code.
    int open(const QByteArray& name, std::time_t modified, quint32 attributes, bool zip64);
    // The Unix type and permission bits, as Info-ZIP's unzip restores them. The owner can always
    // read what is extracted, and enter and fill the folders.
    static quint32 unixAttributes(bool isDirectory, quint32 permissions);

    bool write(const CDeflatePipeline::TBlock& block);

    // The bytes packed, masked or not, and the bytes of the file they came from.
    qint64 size() const { return bytes; }
    qint64 sizeRead() const { return bytesRead; }
    quint32 crc() const { return checksum; }
    // The separately compressed pieces of the entry's deflate stream, as they were written.
    std::vector<CZipperVerifier::TPiece>& pieces() { return writtenPieces; }

    // Returns the library's error code.
    int close();

private:
    QuaZip& archive;
    qint64 headerOffset = 0;
    bool withZip64 = false;
    qint64 compressed = 0;
    bool isOpen = false;
    bool ended = false;
    qint64 bytes = 0;
    qint64 bytesRead = 0;
    quint32 checksum = 0;
    std::vector<CZipperVerifier::TPiece> writtenPieces;
};
