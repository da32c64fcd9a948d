#pragma once

#include <QString>
#include <QStringList>

// Entries whose names are not valid UTF-8 cannot be reached through a QString path, and the
// toolkit's directory listing leaves them out without a word. This lists them from the
// system's own listing, so that a caller can report what it could not take.
class CUndecodableNames
{
public:
    // The names in folder that are not valid UTF-8, with every byte outside printable ASCII
    // written as \xNN. Empty when there are none or the folder cannot be listed.
    static QStringList in(const QString& folder);
};
