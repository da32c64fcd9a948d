#include "IniFile/zip/CZipWorkerThread.h"

#include "IniFile/zip/CZipper.h"
#include "threading/threads/CCallStack.h"

CZipWorkerThread::CZipWorkerThread(QObject* parent)
    : CBasicThread(true, parent, "CZipWorkerThread::CZipWorkerThread")
{}

int CZipWorkerThread::runMethod()
{
    SY_FUNCTION("CZipWorkerThread::runMethod");
    if (CZipper* zipper = qobject_cast<CZipper*>(impl()))
        zipper->processZipJobs();
    return 0;
}
