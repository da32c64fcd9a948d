#pragma once

#include "threading/threads/CBasicThread.h"

// Hosts a CZipper (given to startThread) on its own event loop, so that the zipper's slots run
// on this thread when invoked through queued connections.
class CZipperThread : public CBasicThread
{
    Q_OBJECT

public:
    explicit CZipperThread(QObject* parent = nullptr);
};
