#pragma once

#include "diagnostics/CAsserter.h"

// An asserter that also offers to throw E, built with the given message.
template<class E>
class CAsserterEx : public CAsserter
{
public:
    CAsserterEx(bool conditionHolds, const char* message)
        : CAsserter(conditionHolds), message(message)
    {
    }

protected:
    const char* choiceText() const override
    {
        return "A - Abort\nI - Ignore\nL - Always ignore this assertion\n"
               "G - Ignore all assertions\nT - Throw an exception\nENTER - Debug";
    }
    void onChoice(char choice) const override
    {
        if (choice == 'T')
            throw E(message);
    }

private:
    const char* message;
};
