#include "IniFile/zip/CZipperThread.h"

CZipperThread::CZipperThread(QObject* parent)
    : CBasicThread(true, parent, "CZipperThread::CZipperThread")
{}
