#pragma once

#include "common/CExpect.h"

#include <QString>
#include <QtGlobal>

// What the zipper's tests share: the size of the blocks a large file is cut into, and zip's log
// records as a test expects them.
namespace ZipperRecords {

const qint64 blockSize = 4 * 1024 * 1024;

inline void expect(QtMsgType type, const QString& text, const QString& function = "zip")
{
    CExpect::record(type, "CZipper.cpp", "CZipper::" + function, text);
}

} // namespace ZipperRecords
