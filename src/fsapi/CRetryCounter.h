#pragma once

#include "fsapi/CSafeBool.h"

#include <QtGlobal>

// Counts the attempts of a retried system call:
//     CRetryCounter counter(true, 2);
//     do { ...; counter = <ask for another attempt>; } while (counter);
// makes at most retries + 1 attempts, with no pause between them.
class CRetryCounter : public CSafeBool<CRetryCounter>
{
public:
    CRetryCounter(bool retry, quint32 retries);
    virtual ~CRetryCounter();

    // Asking for another attempt uses one up.
    CRetryCounter& operator=(bool value);
    // True while another attempt is asked for and one is left.
    bool booleanTest() const;

    quint32 getRemaining() const { return remaining; }
    quint32 getRetries() const { return retries; }

private:
    quint32 remaining;
    quint32 retries;
    bool retry;
};
