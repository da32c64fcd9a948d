#pragma once

// Checks a condition at a named place; when it fails, asks the person at the console what to
// do. The prompt is written to std::cout and the answer read from std::cin.
class CAsserter
{
public:
    explicit CAsserter(bool conditionHolds);
    virtual ~CAsserter();

    // True: go on. False: the site breaks into the debugger.
    virtual bool assertFailed(const char* expression, const char* function, const char* file,
                              int line, bool* alwaysIgnore);

    static bool ignoreAllAssertions;

protected:
    virtual const char* choiceText() const;
    // Called with the upper-case answer before the common choices are acted on.
    virtual void onChoice(char choice) const;

private:
    bool conditionHolds;
};
