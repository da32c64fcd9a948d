#include "diagnostics/CAsserter.h"

#include <cctype>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <stdexcept>

bool CAsserter::ignoreAllAssertions = false;

CAsserter::CAsserter(bool conditionHolds) : conditionHolds(conditionHolds) {}

CAsserter::~CAsserter() = default;

const char* CAsserter::choiceText() const
{
    return "A - Abort\nI - Ignore\nL - Always ignore this assertion\nG - Ignore all "
           "assertions\nENTER - Debug";
}

void CAsserter::onChoice(char) const {}

bool CAsserter::assertFailed(const char* expression, const char* function, const char* file,
                             int line, bool* alwaysIgnore)
{
    if (conditionHolds || ignoreAllAssertions)
        return true;

    std::cout << std::endl
              << std::endl
              << "##########################################################" << std::endl
              << "Assertion failed: \"" << expression << '"' << std::endl
              << "File            : " << file << ':' << line << std::endl
              << "Line            : " << function << std::endl
              << std::endl
              << choiceText() << std::endl
              << std::endl
              << "Your choice: " << std::endl;

    const int read = std::cin.get();
    if (std::cin.eof())
        throw std::range_error("Error: Found 'EOF' in standard input stream");
    if (!std::cin.good())
        throw std::logic_error("Error: Input stream broken");
    if (read != '\n') {
        std::cin.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        if (!std::cin.good())
            throw std::logic_error("Error: Input stream broken");
    }
    const char choice = static_cast<char>(std::toupper(read));
    onChoice(choice);

    switch (choice) {
    case 'A':
        std::abort();
    case 'I':
        return true;
    case 'L':
        if (alwaysIgnore)
            *alwaysIgnore = true;
        return true;
    case 'G':
        ignoreAllAssertions = true;
        return true;
    default:
        return false;
    }
}
