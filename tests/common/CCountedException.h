#pragma once

#include "diagnostics/CException.h"

// An exception of the library's family that counts its live instances, so that tests can see
// who owns, clones and destroys exceptions.
class CCountedException : public CException
{
public:
    explicit CCountedException(const QString& details = QStringLiteral("counted"))
        : CException("Counted::make", "c.cpp", 3, details, CCallStack(0, 9, "thrower", "impl"))
    {
        setName("CCountedException::CCountedException");
        registerDescription("Counted");
        ++live;
    }
    CCountedException(const CCountedException& other) : std::exception(other), CException(other)
    {
        ++live;
    }
    ~CCountedException() override { --live; }
    CCountedException* clone() const override { return new CCountedException(*this); }

    static inline int live = 0;
};
