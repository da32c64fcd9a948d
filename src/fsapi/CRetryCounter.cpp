#include "fsapi/CRetryCounter.h"

CRetryCounter::CRetryCounter(bool retry, quint32 retries)
    : remaining(retries + 1), retries(retries), retry(retry)
{}

CRetryCounter::~CRetryCounter() = default;

CRetryCounter& CRetryCounter::operator=(bool value)
{
    retry = value;
    if (value && remaining > 0)
        --remaining;
    return *this;
}

bool CRetryCounter::booleanTest() const
{
    return retry && remaining > 0;
}
