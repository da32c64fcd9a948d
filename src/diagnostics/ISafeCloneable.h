#pragma once

// An object that can hand out a heap copy of its most derived self, owned by the caller.
class ISafeCloneable
{
public:
    virtual ISafeCloneable* clone() const = 0;
    virtual ~ISafeCloneable() = default;
};
