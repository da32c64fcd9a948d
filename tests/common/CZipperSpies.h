#pragma once

#include "IniFile/zip/CZipper.h"
#include "common/CExpect.h"

#include <QSignalSpy>
#include <QString>
#include <QtGlobal>

// Spies on the signals of one kind of CZipper operation: zip's, or unzip's.
class CZipperSpies
{
public:
    CZipperSpies(CZipper& zipper, bool unzip)
        : error(&zipper, &CZipper::error),
          started(&zipper, unzip ? &CZipper::unzipStarted : &CZipper::zipStarted),
          finished(&zipper, unzip ? &CZipper::unzipFinished : &CZipper::zipFinished),
          progress(&zipper, unzip ? &CZipper::unzipProgress : &CZipper::zipProgress)
    {}

    QSignalSpy error;
    QSignalSpy started;
    QSignalSpy finished;
    QSignalSpy progress;
};

// What else the zipper's tests share: the size of the blocks a large file is cut into, and zip's
// log records as a test expects them.
namespace ZipperRecords {

const qint64 blockSize = 4 * 1024 * 1024;

inline void expect(QtMsgType type, const QString& text, const QString& function = "zip")
{
    CExpect::record(type, "CZipper.cpp", "CZipper::" + function, text);
}

} // namespace ZipperRecords
