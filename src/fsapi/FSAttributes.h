#pragma once

#include <QtGlobal>

// The attribute bits that the file-system operations take, independent of any platform; each
// platform maps them to what it has.
namespace FSAttributes {

enum Flag : quint32
{
    Hidden = 1,
    ReadOnly = 2,
    System = 4
};

} // namespace FSAttributes
