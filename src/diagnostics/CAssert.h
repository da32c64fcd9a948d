#pragma once

#include "diagnostics/CAsserterEx.h"
#include "diagnostics/CDebugBreak.h"

#include <stdexcept>

// Asserts a condition inside an instrumented function; a failure prompts on the console.
// Each site keeps its own "always ignore" flag.
#define SY_ASSERT(condition)                                                                       \
    do {                                                                                           \
        static bool syAlwaysIgnore = false;                                                        \
        const bool syConditionHolds = static_cast<bool>(condition);                               \
        CAsserterEx<std::runtime_error> syAsserter(syConditionHolds, "Assertion failed!");         \
        if (!syAlwaysIgnore &&                                                                     \
            !syAsserter.assertFailed(#condition, syCallSite.function, __FILE__, __LINE__,          \
                                     &syAlwaysIgnore))                                             \
            CDebugBreak::breakIfDebugged();                                                        \
    } while (false)
