#pragma once

#include <QString>

class CFSFileTypes;

// One line per file-types table that a test compares as a whole: "type@group=entries" for every
// type, sorted, with "-" for no group and "(none)" for no entry list.
QString dumpFileTypes(const CFSFileTypes& table);
