#pragma once

#include "IniFile/zip/CZipper.h"

#include <QSignalSpy>

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
