#pragma once

#include "threading/threads/CBasicThread.h"

// Hosts a CZipper (given to startThread) on its own event loop. runMethod() works through the
// hosted zipper's job table once; the event loop does not call it, so it runs only where it is
// called directly.
class CZipWorkerThread : public CBasicThread
{
    Q_OBJECT

public:
    explicit CZipWorkerThread(QObject* parent = nullptr);

protected:
    int runMethod() override;
};
