#include "IniFile/collector/CLogsZipperThread.h"

#include "IniFile/collector/CLogFilesSender.h"
#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

CLogsZipperThread::CLogsZipperThread()
    : CBasicThread(false, nullptr, "CLogsZipperThread::CLogsZipperThread"), m_sender(nullptr)
{}

int CLogsZipperThread::runMethod()
{
    SY_FUNCTION("CLogsZipperThread::runMethod");
    m_sender = qobject_cast<CLogFilesSender*>(impl());
    if (m_sender)
        m_sender->saveLogs();
    else
        SY_WARNING << "no log sender to run";
    return 0;
}
