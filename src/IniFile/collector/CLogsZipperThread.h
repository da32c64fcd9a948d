#pragma once

#include "threading/threads/CBasicThread.h"

class CLogFilesSender;

// Runs the old-log rotation of a CLogFilesSender once on a worker thread. The sender is the
// context object given to startThread(); it is not owned and must outlive the run.
class CLogsZipperThread : public CBasicThread
{
    Q_OBJECT

public:
    CLogsZipperThread();

protected:
    int runMethod() override;

private:
    CLogFilesSender* m_sender;
};
