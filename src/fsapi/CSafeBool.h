#pragma once

// Lets a class be tested as a condition without it converting to an integer or comparing equal
// to another such object: the test yields a pointer to a member function, which converts to
// bool only. The derived class T provides "bool booleanTest() const".
class CSafeBoolBase
{
protected:
    using BoolType = void (CSafeBoolBase::*)() const;
    void thisTypeDoesNotSupportComparisons() const {}

    CSafeBoolBase() = default;
    CSafeBoolBase(const CSafeBoolBase&) = default;
    CSafeBoolBase& operator=(const CSafeBoolBase&) = default;
    ~CSafeBoolBase() = default;
};

template<typename T>
class CSafeBool : public CSafeBoolBase
{
public:
    operator BoolType() const
    {
        return static_cast<const T*>(this)->booleanTest()
                   ? &CSafeBool::thisTypeDoesNotSupportComparisons
                   : nullptr;
    }

protected:
    ~CSafeBool() = default;
};

template<typename T, typename U>
void operator==(const CSafeBool<T>&, const CSafeBool<U>&) = delete;
template<typename T, typename U>
void operator!=(const CSafeBool<T>&, const CSafeBool<U>&) = delete;
